// qortools_call: loads QorTools by name, as a host does, and prints
// ComputeModulo(TEXT, MODULUS).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/module.h"
#include "qor/qortools.h"

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "Usage: qortools_call TEXT MODULUS\n"
        "Loads QorTools.dll by name and prints ComputeModulo(TEXT, MODULUS):\n"
        "the remainder of the decimal TEXT divided by MODULUS (read as unsigned\n"
        "32 bits), or -1 for text that is not all digits or a modulus of 0.\n");
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: qortools_call TEXT MODULUS (--help for more)\n");
    return 2;
  }
  char* end = nullptr;
  long long modulus = std::strtoll(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0' || modulus < INT32_MIN || modulus > UINT32_MAX) {
    std::fprintf(stderr, "qortools_call: MODULUS must be a 32-bit whole number\n");
    return 2;
  }
  auto module = qor::platform::load_module("QorTools.dll");
  auto compute = module ? reinterpret_cast<ComputeModuloFn>(qor::platform::find_symbol(module, "ComputeModulo")) : nullptr;
  if (!compute) {
    std::fprintf(stderr, "qortools_call: QorTools.dll or its export ComputeModulo not found\n");
    return 1;
  }
  std::printf("%d\n", static_cast<int>(compute(argv[1], static_cast<std::int32_t>(static_cast<std::uint32_t>(modulus)))));
  qor::platform::unload_module(module);
  return 0;
}
