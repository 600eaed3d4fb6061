#pragma once
// The activity report ("Activity Log.txt") and the recovery history
// ("Recovery Log.txt"): plain text in an 8-bit code page, lines ending in
// "\r\n". Each entry starts on a new line and holds at most 200 bytes; a log
// that has grown beyond 5,242,880 bytes is started anew before the next entry.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace dravolin {

enum class LogKind { Activity = 0, Recovery = 1 };

inline constexpr std::uint64_t kLogSizeLimit = 5242880;
inline constexpr std::size_t kLogEntryLimit = 200;

// "Activity Log.txt" or "Recovery Log.txt".
std::string logFileName(LogKind kind);

class LogFile {
 public:
  LogFile(LogKind kind, std::filesystem::path folder, std::string codePage = "WINDOWS-1252");

  LogKind kind() const { return kind_; }
  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path path() const { return folder_ / logFileName(kind_); }
  void setFolder(std::filesystem::path folder);

  // Appends one entry: "\r\n" and then the text in the code page, cut to
  // 200 bytes. Returns false when the file could not be written; nothing
  // else happens then, the work goes on.
  bool append(std::string_view utf8Text);
  // Several entries in order.
  bool appendLines(std::initializer_list<std::string_view> lines);
  bool appendLines(const std::vector<std::string>& lines);

 private:
  LogKind kind_;
  std::filesystem::path folder_;
  std::string codePage_;
  std::mutex mutex_;  // the UI thread and a worker may both write
};

}  // namespace dravolin
