#pragma once
// State shared by the native thread queues and windows (thread_queue.cpp,
// window.cpp). Every thread that has a queue owns one ThreadQueue; the
// process-wide registry finds it by thread id for posts from this process.
#include <poll.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message.h"

namespace qor::platform::posix {

struct Window;
struct SentRequest;

struct Timer {
  WindowHandle window = no_window;
  std::uint32_t id = 0;
  std::uint32_t period = 0;
  std::uint32_t due = 0;  // tick_ms() value
};

struct ThreadQueue {
  ThreadId tid = 0;
  int sock = -1;  // bound datagram socket: posts from other processes
  int wake = -1;  // eventfd: posts from threads of this process
  std::string path;

  // Posts from threads of this process, guarded by `lock`.
  std::mutex lock;
  std::deque<Message> local;
  bool closed = false;

  // Touched only by the owner thread.
  std::deque<Message> pending;  // arrived, not yet removed
  std::vector<std::shared_ptr<Window>> windows;
  std::vector<std::shared_ptr<SentRequest>> requests;  // sends being read
  std::vector<Timer> timers;
};

// The calling thread's queue; with `create`, made when missing (null only
// when it cannot be made).
ThreadQueue* own_queue(bool create);

// Posts from this process: into the target's local list. False when full.
bool post_local(ThreadQueue& queue, const Message& message);

// The queue of a thread of this process, or null.
std::shared_ptr<ThreadQueue> find_local_queue(ThreadId tid);

// Sends the 20-byte post datagram to the queue socket of `tid`.
bool post_remote(ThreadId tid, const Message& message);

// Waits until one of the thread's serving descriptors (its windows and the
// sends being read), one of `extra`, or with `posts` its queue becomes ready,
// or `timeout_ms` (-1: no limit) passes.
void wait_input(ThreadQueue* queue, bool posts, std::vector<pollfd>& extra, int timeout_ms);

// window.cpp: serves the sends that are ready without waiting.
void serve_ready_sends(ThreadQueue& queue);
// window.cpp: the descriptors that serving watches.
void add_serving_fds(ThreadQueue& queue, std::vector<pollfd>& fds);
// window.cpp: whether a posted message for `window` still belongs here.
bool owns_window(ThreadQueue& queue, WindowHandle window);
// window.cpp: the thread ends: its windows go.
void destroy_thread_windows(ThreadQueue& queue);
// window.cpp: unlink the files of this process's windows (process exit).
void unlink_process_windows();

// Little-endian fields of the wire records.
inline void put_u32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put_u64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline std::uint32_t get_u32(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline std::uint64_t get_u64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Start time of a process (field 22 of /proc/PID/stat), 0 when it does not
// run; tells a live owner from a reused process id.
std::uint64_t process_start_time(std::uint32_t pid);

}  // namespace qor::platform::posix
