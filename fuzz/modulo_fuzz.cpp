// Any byte string as decimal text, any modulus: no crash, and the result is
// -1 or a real remainder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/modulo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t modulus;
  std::memcpy(&modulus, data, 4);
  std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
  std::int32_t result = qor::tools::decimal_modulo(text.c_str(), modulus);
  if (result != -1 && modulus != 0 && static_cast<std::uint32_t>(result) >= modulus) std::abort();
  return 0;
}
