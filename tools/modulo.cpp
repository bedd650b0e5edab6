#include "tools/modulo.h"

namespace qor::tools {

std::int32_t decimal_modulo(const char* text, std::uint32_t modulus) {
  if (!text) return -1;
  // Unsigned 64-bit arithmetic wraps modulo 2^64, as the result must.
  std::uint64_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10u + static_cast<std::uint64_t>(*p - '0');
  }
  // Division by zero has no remainder; -1 is the "bad input" answer that no
  // real remainder can produce.
  if (modulus == 0) return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value % modulus));
}

}  // namespace qor::tools
