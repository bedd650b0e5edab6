#include "platform/clock.h"

#include <windows.h>

namespace qor::platform {

std::uint32_t tick_ms() { return GetTickCount(); }

void sleep_ms(std::uint32_t ms) { Sleep(ms); }

}  // namespace qor::platform
