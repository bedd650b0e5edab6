#include "platform/process.h"

#include <windows.h>

namespace qor::platform {

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace qor::platform
