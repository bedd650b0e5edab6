#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/path_text.h"
#include "platform/posix/profile_parser.h"

namespace qor::platform {

namespace {

// The whole file, or null when it cannot be read (missing, a folder, no
// permission): Win32 then reads the defaults.
std::unique_ptr<std::string> read_file(const std::string& path) {
  if (path.empty()) return nullptr;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto bytes = std::make_unique<std::string>();
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return nullptr;
    }
    if (n == 0) break;
    bytes->append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return bytes;
}

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces the file as a whole: the new text goes to a file beside it that
// is then renamed over it, so that a reader (or a crash) never sees half a
// file. A symbolic link is followed, and an existing file keeps its mode.
bool replace_file(const std::string& path, const std::string& bytes) {
  std::string target = path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) target = resolved;
  mode_t mode = 0666;
  struct stat info {};
  bool existed = stat(target.c_str(), &info) == 0;
  if (existed) mode = info.st_mode & 07777;
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = target + ".qor-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = write_all(fd, bytes) && (!existed || fchmod(fd, mode) == 0) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace

std::uint32_t read_profile_string(const std::string& file, const std::string& section, const std::string& key,
                                  const std::string& default_value, char* buffer, std::uint32_t size) {
  auto bytes = read_file(native_path(file));
  return posix::read_profile_text(bytes.get(), section, key, default_value, buffer, size);
}

std::int32_t read_profile_int(const std::string& file, const std::string& section, const std::string& key,
                              std::int32_t default_value) {
  auto bytes = read_file(native_path(file));
  return posix::read_profile_number(bytes.get(), section, key, default_value);
}

bool write_profile_string(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& value) {
  if (!posix::profile_texts_writable(section, key, value)) return false;
  std::string path = native_path(file);
  if (path.empty()) return false;
  // One writer at a time in this process, as Windows serialises its profile
  // calls, so that two threads' keys both arrive.
  static std::mutex writing;
  std::lock_guard<std::mutex> lock(writing);
  auto bytes = read_file(path);
  if (!bytes) {
    struct stat info {};
    // A folder (or a file that exists but cannot be read) is not replaced.
    if (stat(path.c_str(), &info) == 0) return false;
  }
  std::string updated;
  return posix::write_profile_text(bytes.get(), section, key, value, &updated) && replace_file(path, updated);
}

}  // namespace qor::platform
