#pragma once
// Errors inside the core: "not this structure", "corrupt" and "I/O error" are
// different answers, so callers can tell a blank sector from a failing disk.
#include <expected>
#include <string>
#include <utility>

namespace dravolin {

enum class ErrorKind {
  NotFound,        // not this structure / nothing there
  Corrupt,         // the structure is there but its fields make no sense
  Io,              // the source could not be read or written
  InvalidArgument, // the caller asked for something impossible
  Cancelled,       // the job was cancelled
};

struct Error {
  ErrorKind kind = ErrorKind::Io;
  std::string message;
};

// The result of every fallible operation below the command line: a value or
// an Error with its message. Dropping one unread is a compiler warning.
template <typename T>
class [[nodiscard]] Result : public std::expected<T, Error> {
 public:
  using std::expected<T, Error>::expected;
  Result(const std::expected<T, Error>& other) : std::expected<T, Error>(other) {}
  Result(std::expected<T, Error>&& other) : std::expected<T, Error>(std::move(other)) {}
};

inline std::unexpected<Error> makeError(ErrorKind kind, std::string message) {
  return std::unexpected<Error>(Error{kind, std::move(message)});
}

}  // namespace dravolin
