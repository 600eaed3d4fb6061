#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "results/unicode_text.h"
#include "common/format.h"
#include "app/wizard_steps.h"

namespace dravolin::cli {

static nlohmann::json volumeJson(const VolumeParameters& v) {
  return {{"fat_sectors", v.FatSectors},           {"sectors_per_cluster", v.SectorsPerCluster},
          {"root_dir_sectors", v.RootDirSectors},  {"root_dir_start", v.RootDirStart},
          {"reserved_sectors", v.ReservedSectors}, {"cluster_base", v.ClusterBase},
          {"fat1_start", v.Fat1Start},             {"fat2_start", v.Fat2Start},
          {"mft_start", v.MftStart},               {"mft_mirr_start", v.MftMirrStart},
          {"mft_record_sectors", v.MftRecordSectors}, {"index_record_sectors", v.IndexRecordSectors}};
}

CommandRunner registerPartitionsCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("partitions", "List the partitions of a disk or image and their properties");
  context.addCommonOptions(*command, true);
  auto source = std::make_shared<std::string>();
  command->add_option("SOURCE", *source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  return [source, &context]() -> int {
    context.openSource(*source, false);
    Session& session = context.session();
    const auto& listing = context.listPartitions();
    const std::uint64_t diskBytes = session.source()->sizeInBytes();
    std::vector<int> slices = partitionPieSlices(listing.partitions, diskBytes);
    // Sectors are listed in 512-byte units on every disk; a disk with larger
    // sectors also shows its own LBAs (where its partition table counts).
    const std::uint32_t sectorSize = listing.logicalSectorSize;
    const std::uint64_t units = sectorSize > kSectorSize ? sectorSize / kSectorSize : 1;
    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& p : listing.partitions) {
        // A rejected check shows the layout values all 0.
        const auto checked = checkPartitionVolume(session, p);
        const bool valid = checked.has_value();
        const VolumeParameters volume = checked.value_or(VolumeParameters{});
        nlohmann::json entry = {{"ordinal", p.ordinal},
                                {"label", p.label()},
                                {"type", p.typeText()},
                                {"start", p.start},
                                {"end", p.end},
                                {"size_text", formatPartitionSize((p.end - p.start) * kSectorSize)},
                                {"logical", p.logical},
                                {"type_byte", p.typeByte},
                                {"volume_check", valid},
                                {"volume", volumeJson(volume)},
                                {"beyond_end", p.beyondEnd},
                                {"searchable", p.searchable()}};
        if (p.beyondEnd) entry["beyond_end_text"] = kBeyondEndText;
        if (units > 1) {
          entry["lba_start"] = p.start / units;
          entry["lba_end"] = (p.end + units - 1) / units;
        }
        if (p.gpt) {
          entry["name"] = p.gptName;
          entry["type_guid"] = p.typeGuid;
          entry["type_name"] = p.typeName;
          entry["gpt_entry"] = p.gptSlot;
        }
        list.push_back(entry);
      }
      nlohmann::json doc = {{"source", session.source()->description()}, {"disk_bytes", diskBytes},
                            {"sector_size", sectorSize}, {"partitions", list}, {"pie", slices}};
      if (const DeviceInfo& d = session.device(); !d.image) {
        auto orNull = [](const std::string& v) { return v.empty() ? nlohmann::json() : nlohmann::json(v); };
        doc["disk"] = {{"name", d.name},           {"path", d.devicePath}, {"model", orNull(d.model)},
                       {"size", d.sizeBytes},      {"serial", orNull(d.serial)}, {"by_id", orNull(d.byId)},
                       {"removable", d.removable}};
      }
      doc["table"] = listing.gpt ? "gpt" : listing.wholeVolume ? "none" : listing.hasSignature ? "mbr" : "none";
      if (listing.gpt) doc["gpt_backup_used"] = listing.gptFromBackup;
      if (!listing.notes.empty()) doc["notes"] = listing.notes;
      context.printJson(doc);
      return kExitOk;
    }
    // A disk of the machine is also named by what identifies it: its model,
    // serial and by-id link.
    std::string identity;
    if (const DeviceInfo& d = session.device(); !d.image) {
      for (const std::string& part : {d.model != d.devicePath ? d.model : std::string(),
                                      d.serial.empty() ? std::string() : "serial " + d.serial, d.byId})
        if (!part.empty()) identity += (identity.empty() ? " (" : ", ") + part;
      if (!identity.empty()) identity += ")";
    }
    std::printf("%s: %s, %llu bytes%s\n", session.device().name.c_str(), session.source()->description().c_str(),
                static_cast<unsigned long long>(diskBytes),
                (identity + (units > 1 ? ", " + std::to_string(sectorSize) + "-byte sectors" : std::string())).c_str());
    if (listing.partitions.empty()) {
      std::printf("No partitions recognised.\n");
      return kExitOk;
    }
    // GPT type names are longer than file-system names: the columns widen.
    int labelWidth = 26, typeWidth = 6;
    for (const auto& p : listing.partitions) {
      labelWidth = std::max(labelWidth, static_cast<int>(p.label().size()));
      typeWidth = std::max(typeWidth, static_cast<int>(p.typeText().size()));
    }
    std::printf("%-*s %-*s %12s %12s %10s %6s%s\n", labelWidth, "Partition", typeWidth, "Type", "Start Sector",
                "End Sector", "Size", "Share", listing.gpt ? "  Name" : "");
    for (std::size_t i = 0; i < listing.partitions.size(); ++i) {
      const auto& p = listing.partitions[i];
      // GPT partition names come from the disk: shown escaped.
      const std::string name = p.gpt ? "  " + shownText(p.gptName) : "";
      std::printf("%-*s %-*s %12llu %12llu %10s %5d%%%s%s\n", labelWidth, p.label().c_str(), typeWidth,
                  p.typeText().c_str(), static_cast<unsigned long long>(p.start),
                  static_cast<unsigned long long>(p.end), formatPartitionSize((p.end - p.start) * kSectorSize).c_str(),
                  i < slices.size() ? slices[i] : 0, name.c_str(),
                  p.beyondEnd ? (std::string("  (") + kBeyondEndText + ")").c_str() : "");
    }
    for (const auto& p : listing.partitions)
      if (!p.searchable())
        std::printf("  %s: not searchable: Dravolin does not read this file system; carve it: dravolin carve "
                    "SOURCE --partition %d --types all --to DIR\n",
                    p.label().c_str(), p.ordinal);
    if (units > 1) {
      std::printf("\nSectors above are 512 bytes; in the disk's own %u-byte sectors:\n", sectorSize);
      for (const auto& p : listing.partitions)
        std::printf("  %s: LBA %llu to %llu, %llu sectors\n", p.label().c_str(),
                    static_cast<unsigned long long>(p.start / units),
                    static_cast<unsigned long long>((p.end + units - 1) / units - 1),
                    static_cast<unsigned long long>((p.end - p.start + units - 1) / units));
    }
    if (listing.gpt) {
      std::printf("\nGPT partition table%s\n", listing.gptFromBackup ? ", read from the backup header" : "");
      for (const auto& p : listing.partitions)
        std::printf("  %s: entry %u, name \"%s\", type %s (%s)\n", p.label().c_str(), p.gptSlot, shownText(p.gptName).c_str(),
                    p.typeGuid.c_str(), p.typeName.c_str());
    }
    return kExitOk;
  };
}

}  // namespace dravolin::cli
