#pragma once
#include <cstdint>

namespace qor::tools {

// The decimal modulo: see ComputeModulo in qor/qortools.h.
std::int32_t decimal_modulo(const char* text, std::uint32_t modulus);

}  // namespace qor::tools
