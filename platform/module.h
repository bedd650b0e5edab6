#pragma once
// Loadable modules (DLLs / shared objects) and the paths of running code.
#include <string>

namespace qor::platform {

using ModuleHandle = void*;

// Loads a module. A name without a folder is searched the platform's way:
// on win32 LoadLibrary's order (the program's folder first); on native the
// program's folder, then the dynamic loader's own search. On native a
// Windows module name maps to the native file name: "PipeHost.dll" ->
// "libpipehost.so" (see native_module_name). Null when it cannot be loaded.
ModuleHandle load_module(const std::string& name);

// Address of an exported symbol, or null.
void* find_symbol(ModuleHandle module, const char* name);

void unload_module(ModuleHandle module);

// "QorTools.dll" -> "libqortools.so"; names that do not end in ".dll" (any
// case) are returned as they are.
std::string native_module_name(const std::string& name);

// Full path of the running program's executable file.
std::string executable_path();

// Full path of the module (library or program) whose code called this
// function.
std::string calling_module_path();

// Folder part of a path, without the trailing separator.
std::string folder_of(const std::string& path);

}  // namespace qor::platform
