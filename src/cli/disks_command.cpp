#include <cstdio>

#include "cli/commands.h"
#include "app/wizard_steps.h"

namespace dravolin::cli {

CommandRunner registerDisksCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("disks", "List the disks of this machine with their device information");
  context.addCommonOptions(*command, false);
  return [command, &context]() -> int {
    // The enumeration refreshes the geometry cache, as Step 1 does.
    std::string settingsError;
    const auto devices = listDisks(context.session(), &settingsError);
    if (!settingsError.empty()) std::fprintf(stderr, "dravolin: %s\n", settingsError.c_str());
    if (context.common.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& d : devices)
        list.push_back({{"number", d.number}, {"name", d.name}, {"device", d.devicePath}, {"model", d.model},
                        {"media_type", d.mediaType}, {"size_bytes", d.sizeBytes}, {"cylinders", d.cylinders},
                        {"heads", d.heads}, {"sectors_per_track", d.sectorsPerTrack}, {"floppy", d.floppy},
                        {"path", d.devicePath}, {"size", d.sizeBytes},
                        {"serial", d.serial.empty() ? nlohmann::json() : nlohmann::json(d.serial)},
                        {"by_id", d.byId.empty() ? nlohmann::json() : nlohmann::json(d.byId)},
                        {"removable", d.removable}});
      context.printJson({{"disks", list}});
      return kExitOk;
    }
    if (devices.empty()) std::printf("No disks found.\n");
    // A number changes as loop devices come and go; the path, model, size,
    // serial and by-id link say which disk it is.
    for (const auto& d : devices) {
      std::printf("%-14s %-16s %10llu MB  %-22s %s\n", d.name.c_str(), d.devicePath.c_str(),
                  static_cast<unsigned long long>(d.sizeBytes / 1048576), d.mediaType.c_str(), d.model.c_str());
      if (!d.serial.empty()) std::printf("%-14s serial %s\n", "", d.serial.c_str());
      if (!d.byId.empty()) std::printf("%-14s %s\n", "", d.byId.c_str());
    }
    (void)command;
    return kExitOk;
  };
}

}  // namespace dravolin::cli
