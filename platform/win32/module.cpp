#include "platform/module.h"

#include <windows.h>

namespace qor::platform {

ModuleHandle load_module(const std::string& name) { return reinterpret_cast<ModuleHandle>(LoadLibraryA(name.c_str())); }

void* find_symbol(ModuleHandle module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unload_module(ModuleHandle module) {
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

std::string native_module_name(const std::string& name) { return name; }

static std::string module_file_name(HMODULE module) {
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

std::string executable_path() { return module_file_name(nullptr); }

__attribute__((noinline)) std::string calling_module_path() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(__builtin_return_address(0)), &module);
  return module_file_name(module);
}

std::string folder_of(const std::string& path) {
  auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

}  // namespace qor::platform
