#pragma once
// Thread message queues: any thread of any process posts small messages to a
// thread by its system-wide id; the thread takes them in the order of each
// sender. The same queue carries the messages posted to the thread's windows
// (window.h), and its pump serves the messages sent to them.
#include <cstdint>

#include "platform/event.h"  // wait_forever
#include "platform/message.h"

namespace qor::platform {

ThreadId current_thread_id();

// Posts (message, wparam, lparam) to the queue of `thread`. False when the
// thread does not exist, has no queue, or its queue stays full (the receiver
// takes nothing for a long time).
bool post_thread_message(ThreadId thread, std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);

// Gives the calling thread its message queue if it has none yet. Peeking,
// getting, waiting and creating a window do so as well. False only when the
// queue cannot be made.
bool create_thread_queue();

// The pump of the calling thread. Every call below first serves the messages
// that other threads and processes have sent to this thread's windows (their
// senders wait until then), then looks at the queue.
//
// Order: posted messages (thread and window messages in arrival order, each
// sender's in the order it posted them), then a due timer (msg_timer).

// Looks at the next waiting message. With `remove` it is taken out of the
// queue; without, the same message is seen again. False when none waits.
bool peek_message(Message& out, bool remove);

// Waits without limit for the next message and takes it. False when that
// message is msg_quit (`out` then holds it, wparam is its exit code).
bool get_message(Message& out);

// Waits at most `timeout_ms` (wait_forever: no limit) until a message waits
// in the queue, without taking it. True when one waits.
bool wait_message(std::uint32_t timeout_ms);

// Serves the messages sent to the calling thread's windows, and nothing
// else: posted messages stay queued. For code that owns a window but runs
// inside someone else's program, which has no pump of ours.
void serve_sent_messages();

}  // namespace qor::platform
