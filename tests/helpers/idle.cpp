// idle <ready-file>: a program without a message queue. It creates the ready
// file and then does nothing for a minute, unless something ends it.
#include <cstdio>

#include "platform/clock.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fclose(file) != 0) return 3;
  std::uint32_t start = qor::platform::tick_ms();
  while (qor::platform::tick_ms() - start < 60000) qor::platform::sleep_ms(100);
  return 0;
}
