// no_window [args...]: stands in for a link server that never shows its
// window. It runs for 11 seconds, longer than a starter waits for the window,
// and then leaves the file "no_window.ended" in its current folder.
#include <cstdio>

#include "platform/clock.h"

int main() {
  qor::platform::sleep_ms(11000);
  std::FILE* file = std::fopen("no_window.ended", "wb");
  if (file) std::fclose(file);
  return 0;
}
