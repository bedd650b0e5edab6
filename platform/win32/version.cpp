#include "platform/version.h"

#include <windows.h>

namespace qor::platform {

std::uint32_t os_version() {
  // Deprecated for deciding features, which is not what it is read for here:
  // the value itself is what callers compare.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return static_cast<std::uint32_t>(GetVersion());
#pragma GCC diagnostic pop
}

}  // namespace qor::platform
