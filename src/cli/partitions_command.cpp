#include <cstdio>

#include "cli/commands.h"
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
  command->add_option("SOURCE", *source, "Block device, DiskN, image file or image folder")->required();
  return [source, &context]() -> int {
    context.openSource(*source, false);
    Session& session = context.session();
    const auto& listing = context.listPartitions();
    const std::uint64_t diskBytes = session.source()->sizeInBytes();
    std::vector<int> slices = partitionPieSlices(listing.partitions, diskBytes);
    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& p : listing.partitions) {
        // A rejected check shows the layout values all 0.
        const auto checked = checkPartitionVolume(session, p);
        const bool valid = checked.has_value();
        const VolumeParameters volume = checked.value_or(VolumeParameters{});
        nlohmann::json entry = {{"ordinal", p.ordinal},
                                {"label", p.label()},
                                {"type", toString(p.fileSystem)},
                                {"start", p.start},
                                {"end", p.end},
                                {"size_text", formatPartitionSize((p.end - p.start) * kSectorSize)},
                                {"logical", p.logical},
                                {"type_byte", p.typeByte},
                                {"volume_check", valid},
                                {"volume", volumeJson(volume)},
                                {"beyond_end", p.beyondEnd}};
        if (p.beyondEnd) entry["beyond_end_text"] = kBeyondEndText;
        list.push_back(entry);
      }
      nlohmann::json doc = {{"source", session.source()->description()}, {"disk_bytes", diskBytes},
                            {"partitions", list}, {"pie", slices}};
      if (listing.protectiveMbr) doc["note"] = "GPT partition table: not supported yet; use --range";
      context.printJson(doc);
      return kExitOk;
    }
    std::printf("%s: %s, %llu bytes\n", session.device().name.c_str(), session.source()->description().c_str(),
                static_cast<unsigned long long>(diskBytes));
    if (listing.protectiveMbr) std::printf("GPT partition table: not supported yet; use --range\n");
    if (listing.partitions.empty()) {
      std::printf("No partitions recognised.\n");
      return kExitOk;
    }
    std::printf("%-26s %-6s %12s %12s %10s %6s\n", "Partition", "Type", "Start Sector", "End Sector", "Size", "Share");
    for (std::size_t i = 0; i < listing.partitions.size(); ++i) {
      const auto& p = listing.partitions[i];
      std::printf("%-26s %-6s %12llu %12llu %10s %5d%%%s\n", p.label().c_str(), toString(p.fileSystem).c_str(),
                  static_cast<unsigned long long>(p.start), static_cast<unsigned long long>(p.end),
                  formatPartitionSize((p.end - p.start) * kSectorSize).c_str(), i < slices.size() ? slices[i] : 0,
                  p.beyondEnd ? (std::string("  (") + kBeyondEndText + ")").c_str() : "");
    }
    return kExitOk;
  };
}

}  // namespace dravolin::cli
