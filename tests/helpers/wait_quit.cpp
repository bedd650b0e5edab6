// wait_quit <ready-file> <done-file>: gives its main thread a message queue,
// creates the ready file, and waits for the quit message. Then it creates
// the done file and ends with exit code 42. Without a quit message within a
// minute it ends with exit code 3.
#include <cstdio>

#include "platform/clock.h"
#include "platform/thread_queue.h"

using namespace qor::platform;

static bool touch(const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  return file && std::fclose(file) == 0;
}

int main(int argc, char** argv) {
  if (argc < 3 || !create_thread_queue() || !touch(argv[1])) return 2;
  std::uint32_t start = tick_ms();
  while (tick_ms() - start < 60000) {
    if (!wait_message(1000)) continue;
    Message message;
    while (peek_message(message, true)) {
      if (message.id == msg_quit) return touch(argv[2]) ? 42 : 4;
    }
  }
  return 3;
}
