#pragma once
// Thread message queues: any thread of any process posts small messages to a
// thread by its system-wide id; the thread takes them in the order of each
// sender.
#include <cstdint>

#include "platform/message.h"

namespace qor::platform {

ThreadId current_thread_id();

// Posts (message, wparam, lparam) to the queue of `thread`. False when the
// thread does not exist or has no queue.
bool post_thread_message(ThreadId thread, std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);

}  // namespace qor::platform
