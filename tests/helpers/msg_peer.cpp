// The other process of the thread queue and window tests.
//
//   msg_peer post TID COUNT TAG      posts COUNT messages (msg_app+1, i, TAG)
//                                    to thread TID, then (msg_app+2, COUNT,
//                                    TAG); exit 0 when every post succeeded
//   msg_peer find TITLE              exit 0 when a window of another process
//                                    has this title, 1 when none
//   msg_peer send TITLE SIZE WPARAM [ID]
//                                    sends a data message (default
//                                    msg_copydata) with SIZE pattern bytes
//                                    and tag 0x5151 to the window; exit 0
//                                    when the result is the bytes' checksum,
//                                    1 no window, 2 send failed, 3 other result
//   msg_peer post_window TITLE ID WPARAM LPARAM
//                                    exit 0 posted, 1 no window, 2 post failed
//   msg_peer own TITLE               owns a window titled TITLE and never
//                                    pumps; ends after a minute
#include "tests/helpers/msg_peer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/thread_queue.h"
#include "platform/window.h"

using namespace qor::platform;

namespace {

std::uint32_t number(const char* text) { return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)); }

int post(int argc, char** argv) {
  if (argc < 5) return 64;
  ThreadId tid = number(argv[2]);
  std::uint32_t count = number(argv[3]), tag = number(argv[4]);
  bool ok = true;
  for (std::uint32_t i = 0; i < count; ++i) ok = post_thread_message(tid, msg_peer::msg_item, i, tag) && ok;
  ok = post_thread_message(tid, msg_peer::msg_done, count, tag) && ok;
  return ok ? 0 : 1;
}

int find(int argc, char** argv) {
  if (argc < 3) return 64;
  WindowHandle window = find_window(argv[2]);
  return window != no_window && window_process_id(window) != current_process_id() ? 0 : 1;
}

int send(int argc, char** argv) {
  if (argc < 5) return 64;
  WindowHandle window = find_window(argv[2]);
  if (window == no_window) return 1;
  std::uint32_t size = number(argv[3]);
  std::uint32_t id = argc > 5 ? number(argv[5]) : msg_copydata;
  std::vector<unsigned char> bytes = msg_peer::pattern(size);
  auto result = send_data(window, id, number(argv[4]), msg_peer::tag, bytes.data(), size);
  if (!result) return 2;
  return *result == msg_peer::checksum(bytes.data(), size) ? 0 : 3;
}

int post_window(int argc, char** argv) {
  if (argc < 6) return 64;
  WindowHandle window = find_window(argv[2]);
  if (window == no_window) return 1;
  return post_message(window, number(argv[3]), number(argv[4]), number(argv[5])) ? 0 : 2;
}

int own(int argc, char** argv) {
  if (argc < 3) return 64;
  if (create_window(argv[2], [](WindowHandle, const WindowMessage&) -> HandlerResult { return 1; }) == no_window)
    return 1;
  for (int i = 0; i < 600; ++i) sleep_ms(100);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  std::string command = argv[1];
  if (command == "post") return post(argc, argv);
  if (command == "find") return find(argc, argv);
  if (command == "send") return send(argc, argv);
  if (command == "post_window") return post_window(argc, argv);
  if (command == "own") return own(argc, argv);
  return 64;
}
