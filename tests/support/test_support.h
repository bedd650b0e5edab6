#pragma once
// Small helpers shared by the test executables.
#include <string>

namespace qor::test {

// The folder that holds the deliverables, the helper programs and the tests.
std::string bin_dir();

// Full path of a helper program built from tests/helpers/<name>.cpp
// (with ".exe" on win32).
std::string helper_program(const std::string& name);

// A name no other test run on this machine uses at the same time, for pipes,
// windows and files: "<prefix>_<pid>_<counter>".
std::string unique_name(const std::string& prefix);

// True on the win32 target (the tests then run under Wine).
constexpr bool on_win32 =
#ifdef _WIN32
    true;
#else
    false;
#endif

}  // namespace qor::test
