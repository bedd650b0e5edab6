#pragma once
// The version value of the running system, as Windows' GetVersion gives it:
// major version in the low byte, minor in the next, and on the NT family the
// build number in the high 16 bits (the top bit set on the old 95 family).
#include <cstdint>

namespace qor::platform {

// win32: GetVersion(). native: the value of a current NT-family system
// (10.0, build 19045), so that callers take the same paths as there.
std::uint32_t os_version();

}  // namespace qor::platform
