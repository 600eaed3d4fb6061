// dravolin image: a sector copy of a disk, a partition or a range into an
// image file (or 650 MiB pieces), or onto another disk.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "app/image_creation.h"
#include "app/wizard_steps.h"
#include "cli/commands.h"
#include "cli/read_loss_json.h"

namespace dravolin::cli {
namespace {
namespace fs = std::filesystem;

struct ImageOptions {
  std::string source;
  std::string to;
  std::string toDisk;
  bool multiFile = false;
  bool overwrite = false;
  bool yes = false;
  bool allowSameDisk = false;
  std::string hash = "md5,sha256";
  std::string mapfile;
  int retries = 0;
  bool reverse = false;
};

// Passes questions on to the terminal but keeps the closing message of the
// imaging, which the command prints itself (on stdout, or in the JSON).
class MessageKeeper final : public Prompter {
 public:
  explicit MessageKeeper(Prompter& inner) : inner_(inner) {}
  BadSectorAnswer askBadSector() override { return inner_.askBadSector(); }
  ReplaceAnswer askReplace(const std::string& path) override { return inner_.askReplace(path); }
  bool askYesNo(const std::string& text) override { return inner_.askYesNo(text); }
  void inform(const std::string& text) override { message = text; }
  std::string message;

 private:
  Prompter& inner_;
};

bool isDiskNumber(const std::string& name) {
  return name.size() > 4 && name.starts_with("Disk") &&
         std::all_of(name.begin() + 4, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The target named on the command line: "DiskN", a device path, or a link
// of /dev/disk/by-id given whole or by its name alone.
const TargetDisk* findTarget(const std::vector<TargetDisk>& targets, const std::string& name) {
  std::error_code ec;
  fs::path given = name;
  if (!isDiskNumber(name) && name.find('/') == std::string::npos && fs::is_symlink("/dev/disk/by-id/" + name, ec))
    given = "/dev/disk/by-id/" + name;
  const fs::path wanted = fs::weakly_canonical(given, ec);
  const bool byPath = !ec && !isDiskNumber(name);
  for (const auto& target : targets) {
    if (target.device.name == name) return &target;
    std::error_code own;
    if (byPath && fs::weakly_canonical(target.device.devicePath, own) == wanted && !own) return &target;
  }
  return nullptr;
}

// Whether two listings name the same disk: the same device, model, size and serial.
bool sameDisk(const DeviceInfo& a, const DeviceInfo& b) {
  return a.devicePath == b.devicePath && a.model == b.model && a.sizeBytes == b.sizeBytes && a.serial == b.serial;
}

void prepareDiskTarget(CliContext& context, ImageCreationPage& page, const std::string& name) {
  const auto targets = page.targetDisks(context.devices());
  const TargetDisk* target = findTarget(targets, name);
  if (!target) throw CliExit{kExitFailure, name + ": not a disk of this machine (see 'dravolin disks')"};
  // Say which disk is about to be written, by what identifies it.
  std::fprintf(stderr, "dravolin: target %s: %s\n", target->device.name.c_str(),
               describeDiskIdentity(target->device).c_str());
  auto next = page.nextDisk(*target, context.prompter());
  if (!next) {
    if (next.error().kind == ErrorKind::Cancelled)
      throw CliExit{kExitFailure, "The target disk was not written (answer the question, or --yes)"};
    throw CliExit{kExitFailure, next.error().message};
  }
  // A disk number changes as loop devices come and go: the disk that number
  // names now must still be the one whose model was confirmed, else nothing
  // is written.
  if (isDiskNumber(name)) {
    const auto now = machineDisks();
    const auto still = std::find_if(now.begin(), now.end(), [&](const DeviceInfo& d) { return d.name == name && !d.floppy; });
    if (still == now.end() || !sameDisk(*still, target->device))
      throw CliExit{kExitFailure, name + " no longer names " + describeDiskIdentity(target->device) +
                                      "; nothing was written (give the disk by its path or by-id name)"};
  }
  if (auto opened = page.openTarget(); !opened) throw CliExit{kExitFailure, opened.error().message};
}

nlohmann::json resultJson(const ImagingResult& result, const ImagingSettings& settings) {
  nlohmann::json pieces = nlohmann::json::array();
  for (const auto& piece : result.pieces) pieces.push_back(piece.string());
  nlohmann::json doc = {{"pieces", pieces},
                        {"sectors_copied", result.sectorsCopied.load()},
                        {"unreadable_sectors", result.unreadableSectors},
                        {"aborted", !result.completed && result.error.empty()},
                        {"bad_sector_list", result.badSectorList.string()},
                        {"message", result.message}};
  if (!result.unreadable.empty()) doc["unreadable"] = sectorRangesJson(result.unreadable);
  if (settings.ImageToDisk) doc["target_disk"] = settings.ImageTargetLabel;
  // MD5 and SHA-256 of the sectors copied; absent after a failed write.
  if (!result.hashes.md5.empty()) doc["md5"] = result.hashes.md5;
  if (!result.hashes.sha1.empty()) doc["sha1"] = result.hashes.sha1;
  if (!result.hashes.sha256.empty()) doc["sha256"] = result.hashes.sha256;
  if (!settings.ImageToDisk) doc["hash_list"] = result.hashList.string();
  nlohmann::json files = nlohmann::json::array();
  for (const auto& file : result.hashFiles) files.push_back(file.string());
  if (!settings.ImageToDisk) doc["hash_files"] = files;
  // The hashes stand for these sectors only (fewer than asked after a stop).
  if (!result.hashes.empty()) doc["hashed_sectors"] = result.hashedSectors;
  if (!settings.mapfile.empty()) {
    doc["mapfile"] = settings.mapfile.string();
    doc["rescued_bytes"] = result.rescue.rescuedSectors.load() * kSectorSize;
    doc["bad_areas"] = result.rescue.badAreas.load();
    doc["read_errors"] = result.rescue.readErrors.load();
  }
  if (!result.hashListError.empty()) doc["hash_list_error"] = result.hashListError;
  if (!result.error.empty()) doc["error"] = result.error;
  return doc;
}

void printResult(const ImagingResult& result, const ImagingSettings& settings) {
  std::printf("%s\n", result.message.c_str());
  if (settings.ImageToDisk) std::printf("Target disk: %s\n", settings.ImageTargetLabel.c_str());
  for (const auto& piece : result.pieces) std::printf("Image file: %s\n", piece.string().c_str());
  std::printf("Sectors copied: %llu\n", static_cast<unsigned long long>(result.sectorsCopied.load()));
  std::printf("Unreadable sectors: %llu\n", static_cast<unsigned long long>(result.unreadableSectors));
  if (!result.badSectorList.empty()) std::printf("Bad sector list: %s\n", result.badSectorList.string().c_str());
  if (!result.hashes.md5.empty()) std::printf("MD5: %s\n", result.hashes.md5.c_str());
  if (!result.hashes.sha1.empty()) std::printf("SHA-1: %s\n", result.hashes.sha1.c_str());
  if (!result.hashes.sha256.empty()) std::printf("SHA-256: %s\n", result.hashes.sha256.c_str());
  if (!result.hashes.empty() && !result.completed)
    std::printf("The hashes cover the %llu sectors copied only\n",
                static_cast<unsigned long long>(result.hashedSectors));
  for (const auto& file : result.hashFiles) std::printf("Hash file: %s\n", file.string().c_str());
  if (!settings.mapfile.empty()) std::printf("Mapfile: %s\n", settings.mapfile.string().c_str());
}

}  // namespace

CommandRunner registerImageCommand(CLI::App& app, CliContext& context) {
  auto* command =
      app.add_subcommand("image", "Copy a disk, partition or sector range into image files or onto another disk");
  context.addCommonOptions(*command, true);
  context.addChoiceOptions(*command, true);
  auto options = std::make_shared<ImageOptions>();
  command->add_option("SOURCE", options->source, "Block device, DiskN, image file or folder, first piece of a split image (.001, .aa), or E01, qcow2, VMDK, VHD, VHDX image")->required();
  auto* to = command->add_option("--to", options->to,
                                 "Image path; a single image keeps a name with an extension of its own "
                                 "(sdb.dd), pieces are named after it without its extension "
                                 "(disk.img gives disk0.img, disk1.img, ...; backup gives backup0.img)");
  auto* toDisk =
      command->add_option("--to-disk", options->toDisk, "Target disk (device path, /dev/disk/by-id name, or DiskN as 'dravolin disks' lists it); "
                         "all its data is lost");
  to->excludes(toDisk);
  command->add_flag("--multifile", options->multiFile, "Split the image into pieces of 650 MiB")->needs(to);
  command->add_flag("--overwrite", options->overwrite, "Replace an existing image of that name")->needs(to);
  command->add_flag("--allow-same-disk", options->allowSameDisk,
                    "Write the image even when its folder lies on the source disk")
      ->needs(to);
  command->add_option("--hash", options->hash,
                      "Digests of the copy, one NAME.ALGORITHM file each: md5, sha1, sha256 or none "
                      "(default md5,sha256)");
  command->add_option("--mapfile", options->mapfile,
                      "Rescue imaging with a GNU ddrescue mapfile; an existing mapfile is continued")
      ->needs(to);
  command->add_option("--retries", options->retries, "Passes over the bad sectors after scraping (rescue)")
      ->check(CLI::Range(0, 1000));
  command->add_flag("--reverse", options->reverse, "Run the first rescue pass from the end backwards");
  command->add_flag("-y,--yes", options->yes, "Answer yes to \"All data will be lost in Target Disk\"");

  return [options, &context]() -> int {
    if (options->to.empty() == options->toDisk.empty())
      throw CliExit{kExitUsage, "Say where the copy goes: --to PATH or --to-disk DEVICE"};
    context.prompter().setYes(options->yes);
    context.openSource(options->source, true, kImageRecovery);
    if (!options->to.empty()) context.checkDestinationDisk(options->to, options->allowSameDisk);
    context.commitChoice(ChoiceRule::Explicit);
    Session& session = context.session();
    if ((options->retries > 0 || options->reverse) && options->mapfile.empty())
      throw CliExit{kExitUsage, "--retries and --reverse need --mapfile FILE"};
    if (!options->mapfile.empty() && options->multiFile)
      throw CliExit{kExitUsage, "--mapfile rescues into one image file: leave out --multifile"};
    auto hashes = parseHashList(options->hash);
    if (!hashes) throw CliExit{kExitUsage, hashes.error().message};
    {
      auto& imaging = session.state.imaging;
      imaging.hashAlgorithms = *hashes;
      imaging.keepDestinationName = !options->to.empty() && hasOwnExtension(fs::path(options->to));
      imaging.mapfile = options->mapfile;
      imaging.retries = options->retries;
      imaging.reverse = options->reverse;
    }

    ImageCreationPage page(session);
    if (!options->toDisk.empty()) {
      prepareDiskTarget(context, page, options->toDisk);
    } else if (auto next = page.nextImage(options->to, options->multiFile, options->overwrite); !next) {
      throw CliExit{kExitFailure, next.error().message};
    }

    MessageKeeper keeper(context.prompter());
    SteadyTickSource ticks;
    SearchController controller(session, keeper, ticks);
    ImagingResult result;
    const std::uint64_t totalBytes = page.neededBytes();
    auto outcome = context.runJob(
        controller, page.worker(controller, result), {},
        [&result, totalBytes, rescue = !options->mapfile.empty()] {
          TransferProgress moved{result.sectorsCopied.load() * kSectorSize, totalBytes, std::nullopt};
          ImagingCounters counters;
          counters.totalBytes = totalBytes;
          counters.triedBytes = moved.doneBytes;
          if (rescue) {
            counters.positionBytes = result.rescue.position.load() * kSectorSize;
            counters.rescuedBytes = result.rescue.rescuedSectors.load() * kSectorSize;
            counters.badAreas = result.rescue.badAreas.load();
            counters.readErrors = result.rescue.readErrors.load();
          } else {
            // A plain copy reads in order; what stayed unreadable is zeros.
            const std::uint64_t lost = result.unreadableSoFar.load();
            counters.positionBytes = moved.doneBytes;
            counters.rescuedBytes = moved.doneBytes - std::min(moved.doneBytes, lost * kSectorSize);
            counters.badAreas = result.badAreasSoFar.load();
            counters.readErrors = lost;
          }
          moved.imaging = counters;
          return moved;
        });
    if (outcome == SearchOutcome::Cancelled) throw CliExit{kExitInterrupted, "Image creation cancelled."};
    if (outcome != SearchOutcome::Close)
      throw CliExit{kExitFailure, controller.error().empty() ? std::string(kImageAborted) : controller.error()};

    const ImagingSettings& settings = page.settings();
    if (context.common.json) context.printJson(resultJson(result, settings));
    else printResult(result, settings);
    if (!result.unreadable.empty())
      std::fprintf(stderr, "dravolin: %llu unreadable sectors were read as zeros: %s\n",
                   static_cast<unsigned long long>(result.unreadableSectors),
                   describeSectorRanges(result.unreadable).c_str());
    if (!result.error.empty()) std::fprintf(stderr, "dravolin: %s\n", result.error.c_str());
    if (!result.hashListError.empty())
      std::fprintf(stderr, "dravolin: the hash list was not written: %s\n", result.hashListError.c_str());
    return result.completed ? kExitOk : kExitFailure;
  };
}

}  // namespace dravolin::cli
