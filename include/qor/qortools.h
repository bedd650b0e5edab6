#pragma once
// QorTools: the decimal modulo function.
#include <stdint.h>

#include "qor/callconv.h"

// Remainder of the decimal number `text` (digits only) divided by `modulus`,
// read as unsigned 32 bits. -1 for a null text, a character that is not a
// digit, or a modulus of 0. Numbers beyond 64 bits wrap modulo 2^64.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL ComputeModulo(const char* text, int32_t modulus);

typedef int32_t(QOR_STDCALL* ComputeModuloFn)(const char* text, int32_t modulus);
