#pragma once
// The one millisecond clock of the system, and real waits.
#include <cstdint>

namespace qor::platform {

// Milliseconds since an arbitrary start, monotonic, wrapping at 2^32 like the
// Windows tick count. Compare ticks by difference: `tick_ms() - start >= n`.
std::uint32_t tick_ms();

// Suspends the calling thread for at least `ms` milliseconds.
void sleep_ms(std::uint32_t ms);

}  // namespace qor::platform
