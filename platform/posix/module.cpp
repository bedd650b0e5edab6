#include "platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>

namespace qor::platform {

std::string native_module_name(const std::string& name) {
  const std::string dll = ".dll";
  if (name.size() <= dll.size()) return name;
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower.compare(lower.size() - dll.size(), dll.size(), dll) != 0) return name;
  return "lib" + lower.substr(0, lower.size() - dll.size()) + ".so";
}

ModuleHandle load_module(const std::string& name) {
  std::string file = native_module_name(name);
  if (file.find('/') != std::string::npos) return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  // The program's folder first, as Windows does; then the loader's search.
  std::string beside = folder_of(executable_path()) + "/" + file;
  if (access(beside.c_str(), F_OK) == 0) return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* find_symbol(ModuleHandle module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void unload_module(ModuleHandle module) {
  if (module) dlclose(module);
}

std::string executable_path() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

__attribute__((noinline)) std::string calling_module_path() {
  Dl_info info{};
  if (dladdr(__builtin_return_address(0), &info) == 0 || !info.dli_fname) return std::string();
  std::string path = info.dli_fname;
  // The main program reports the name it was started under; make it absolute.
  if (path.find('/') == std::string::npos || path[0] != '/') {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) return resolved;
    return executable_path();
  }
  return path;
}

std::string folder_of(const std::string& path) {
  auto cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? std::string("/") : path.substr(0, cut);
}

}  // namespace qor::platform
