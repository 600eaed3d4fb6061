#include "cli/help_text.h"

#include <map>

namespace dravolin::cli {

namespace {

const std::map<std::string, std::vector<std::string>>& examples() {
  static const std::map<std::string, std::vector<std::string>> table = {
      {"",
       {"dravolin disks", "dravolin partitions disk.img",
        "dravolin scan /dev/sdb --partition 1",
        "dravolin recover disk.img --partition 1 --all --deleted-only --to ~/recovered",
        "dravolin scan --help"}},
      {"disks", {"dravolin disks", "dravolin disks --json"}},
      {"partitions",
       {"dravolin partitions /dev/sdb", "dravolin partitions Disk1", "dravolin partitions disk.img --json",
        "dravolin partitions /media/images/"}},
      {"scan",
       {"dravolin scan disk.img --partition 1", "dravolin scan /dev/sdb --partition 2 --exhaustive",
        "dravolin scan disk.img --range 2048 133120 --fs FAT16 --json",
        "dravolin scan disk.img --lost 2", "dravolin scan disk.img --lost 2 --load-log FOUND.ST2C"}},
      {"recover",
       {"dravolin recover disk.img --partition 1 --all --deleted-only --to ~/recovered",
        "dravolin recover /dev/sdb --partition 1 --path /Documents --to ~/recovered --on-exists rename",
        "dravolin recover disk.img --all --ext doc,xls --modified 2006-01-01..2006-12-31 --to ~/recovered"}},
      {"find",
       {"dravolin find disk.img --partition 1 '*.doc'",
        "dravolin find /dev/sdb --partition 1 'report?.txt' --deleted only --size 1..2MB"}},
      {"carve",
       {"dravolin carve /dev/sdb --whole-disk --types jpeg,pdf,zip --to ~/recovered",
        "dravolin carve disk.img --partition 1 --types all --to ~/recovered"}},
      {"image",
       {"dravolin image /dev/sdb --whole-disk --to /backup/disk.img",
        "dravolin image /dev/sdb --partition 2 --to /backup/p.img --multifile",
        "dravolin image /dev/sdb --whole-disk --to-disk /dev/sdc --yes",
        "dravolin image /dev/sdb --whole-disk --to /backup/sdb.dd --mapfile /backup/sdb.map --retries 2"}},
      {"lost",
       {"dravolin lost disk.img", "dravolin lost /dev/sdb --range 0 4194304 --fs FAT --json",
        "dravolin lost disk.img --fs NTFS",
        "dravolin lost disk.img --save-log found.ST2C", "dravolin lost disk-copy.img --load-log FOUND.ST2C"}},
  };
  return table;
}

}  // namespace

std::vector<std::string> helpExamples(const std::string& command) {
  const auto found = examples().find(command);
  return found == examples().end() ? std::vector<std::string>{} : found->second;
}

std::string helpFooter(const std::string& command) {
  std::string text;
  if (const auto lines = helpExamples(command); !lines.empty()) {
    text += "Examples:\n";
    for (const auto& line : lines) text += "  " + line + "\n";
    text += "\n";
  }
  text +=
      "Exit codes:\n"
      "  0    the job ran and did what was asked\n"
      "  1    the job failed or was incomplete (the message says what)\n"
      "  2    usage error\n"
      "  130  interrupted (Ctrl-C)";  // CLI11 ends the help with a line break
  return text;
}

void addHelpFooters(CLI::App& app) {
  // A command's own footer (a note) stays, above the examples.
  auto set = [](CLI::App& command, const std::string& name) {
    const std::string own = command.get_footer();
    command.footer((own.empty() ? std::string() : own + "\n\n") + helpFooter(name));
  };
  set(app, "");
  for (CLI::App* command : app.get_subcommands({})) set(*command, command->get_name());
}

}  // namespace dravolin::cli
