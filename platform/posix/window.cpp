#include "platform/window.h"

#include "platform/posix/message_state.h"

namespace qor::platform::posix {

void serve_ready_sends(ThreadQueue&) {}
void add_serving_fds(ThreadQueue&, std::vector<pollfd>&) {}
bool owns_window(ThreadQueue&, WindowHandle) { return false; }
void destroy_thread_windows(ThreadQueue&) {}
void unlink_process_windows() {}

}  // namespace qor::platform::posix
