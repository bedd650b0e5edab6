// The exports of QorTools.
#include "qor/qortools.h"
#include "tools/modulo.h"

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL ComputeModulo(const char* text, int32_t modulus) {
  return qor::tools::decimal_modulo(text, static_cast<std::uint32_t>(modulus));
}
