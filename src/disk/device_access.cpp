#include "disk/device_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace dravolin {

Result<std::unique_ptr<FileSectorSource>> openDevice(const std::string& path, AccessPurpose purpose,
                                                     const DescriptorBroker& broker, bool treatAsImage) {
  const int flags = (purpose == AccessPurpose::ReadSource ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  const int fd = ::open(path.c_str(), flags);
  if (fd >= 0) return FileSectorSource::adopt(fd, path, treatAsImage);
  const int refused = errno;
  if (refused != EACCES && refused != EPERM) return makeError(ErrorKind::Io, path + ": " + std::strerror(refused));
  if (!broker) return makeError(ErrorKind::Io, accessAdvice(path, ""));
  auto handed = broker(path, purpose);
  if (!handed) return makeError(ErrorKind::Io, accessAdvice(path, handed.error().message));
  // A read-only descriptor would fail every write of an imaging target late.
  const int mode = fcntl(*handed, F_GETFL);
  if (mode < 0 || (purpose == AccessPurpose::WriteTarget && (mode & O_ACCMODE) != O_RDWR)) {
    ::close(*handed);
    return makeError(ErrorKind::Io, accessAdvice(path, "the descriptor handed over is not writable"));
  }
  return FileSectorSource::adopt(*handed, path, treatAsImage);
}

std::string accessAdvice(const std::string& path, const std::string& reason) {
  std::string text = path + ": " + std::strerror(EACCES);
  if (!reason.empty()) text += " (" + reason + ")";
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0 && !S_ISBLK(st.st_mode))
    return text + ". To get access, have its owner let you read it, or run the program with pkexec";
  return text +
         ". To get access, join the disk group (sudo adduser $USER disk, then log in again)"
         " or run the program with pkexec";
}

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
// Long enough to type a password into the polkit dialog.
constexpr std::uint64_t kOpenTimeoutUs = 300'000'000;

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

// The text of a failed call: the D-Bus error's message, else errno's.
std::string failure(const sd_bus_error& error, int r) {
  if (error.message && *error.message) return error.message;
  if (error.name && *error.name) return error.name;
  return std::strerror(-r);
}

// UDisks2 escapes a block device's kernel name into its object path:
// every byte but letters and digits becomes "_" and two hex digits.
std::string blockObjectPath(const std::string& path) {
  std::error_code ec;
  std::string name = std::filesystem::weakly_canonical(path, ec).filename().string();
  if (ec || name.empty()) name = std::filesystem::path(path).filename().string();
  std::string escaped;
  for (unsigned char c : name) {
    if (std::isalnum(c)) {
      escaped += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", c);
      escaped += hex;
    }
  }
  return "/org/freedesktop/UDisks2/block_devices/" + escaped;
}

// The object of the block device at path: Manager.ResolveDevice where
// UDisks2 has it (2.7.3 and later), else the path by the naming rule.
Result<std::string> resolveBlockObject(sd_bus* bus, const std::string& path) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, kService, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager",
                             "ResolveDevice", &error, &reply, "a{sv}a{sv}", 1, "path", "s", path.c_str(), 0);
  Message owned(reply);
  if (r < 0) {
    const bool unknown = sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD);
    std::string text = failure(error, r);
    sd_bus_error_free(&error);
    if (unknown) return blockObjectPath(path);
    return makeError(ErrorKind::Io, "UDisks2: " + text);
  }
  const char* object = nullptr;
  if (sd_bus_message_enter_container(reply, 'a', "o") < 0 || sd_bus_message_read(reply, "o", &object) <= 0 ||
      !object)
    return makeError(ErrorKind::NotFound, "UDisks2 does not know " + path);
  return std::string(object);
}

}  // namespace

Result<int> openThroughUDisks(const std::string& path, AccessPurpose purpose) {
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) return makeError(ErrorKind::Io, std::string("no system D-Bus: ") + std::strerror(-r));
  Bus bus(raw);
  // Lets polkit ask the user for a password instead of refusing at once.
  sd_bus_set_allow_interactive_authorization(bus.get(), 1);
  auto object = resolveBlockObject(bus.get(), path);
  if (!object) return std::unexpected(object.error());

  sd_bus_message* call = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &call, kService, object->c_str(), "org.freedesktop.UDisks2.Block",
                                     purpose == AccessPurpose::ReadSource ? "OpenForBackup" : "OpenForRestore");
  if (r < 0) return makeError(ErrorKind::Io, std::string("UDisks2: ") + std::strerror(-r));
  Message request(call);
  r = sd_bus_message_append(call, "a{sv}", 0);
  if (r < 0) return makeError(ErrorKind::Io, std::string("UDisks2: ") + std::strerror(-r));
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus.get(), call, kOpenTimeoutUs, &error, &reply);
  Message answer(reply);
  if (r < 0) {
    std::string text = failure(error, r);
    sd_bus_error_free(&error);
    return makeError(ErrorKind::Io, "UDisks2: " + text);
  }
  int handed = -1;
  if (sd_bus_message_read(reply, "h", &handed) <= 0 || handed < 0)
    return makeError(ErrorKind::Io, "UDisks2 answered without a descriptor");
  // The descriptor belongs to the reply: keep a copy of our own.
  const int own = fcntl(handed, F_DUPFD_CLOEXEC, 3);
  if (own < 0) return makeError(ErrorKind::Io, std::string("UDisks2: ") + std::strerror(errno));
  return own;
}

}  // namespace dravolin
