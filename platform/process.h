#pragma once
// Processes: this one, and programs it starts.
#include <cstdint>

namespace qor::platform {

std::uint32_t current_process_id();

}  // namespace qor::platform
