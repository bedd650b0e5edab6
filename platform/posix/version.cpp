#include "platform/version.h"

namespace qor::platform {

std::uint32_t os_version() { return (19045u << 16) | (0u << 8) | 10u; }

}  // namespace qor::platform
