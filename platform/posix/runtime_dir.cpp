#include "platform/posix/runtime_dir.h"

#include <sys/stat.h>

#include <cstdlib>

namespace qor::platform::posix {

static void make_shared_dir(const std::string& path) {
  // mkdir obeys the umask; chmod makes the directory writable for everyone,
  // with the sticky bit so that nobody removes another user's entries.
  if (mkdir(path.c_str(), 01777) == 0) chmod(path.c_str(), 01777);
}

const std::string& runtime_dir() {
  // Never destroyed: other libraries' unload code may still need it when
  // the process's static objects are being torn down.
  static const std::string& dir = *new std::string([] {
    const char* env = std::getenv("QOR_RUNTIME_DIR");
    std::string path = env && *env ? env : "/tmp/qor";
    make_shared_dir(path);
    return path;
  }());
  return dir;
}

std::string runtime_subdir(const std::string& sub) {
  std::string path = runtime_dir() + "/" + sub;
  make_shared_dir(path);
  return path;
}

}  // namespace qor::platform::posix
