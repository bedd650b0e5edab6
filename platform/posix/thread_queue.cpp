// Native thread queues. A thread's queue is a datagram socket bound at
// <runtime>/threads/<tid> (posts from other processes, one 20-byte datagram
// each) plus an in-process list woken through an eventfd (posts from threads
// of this process). Both keep the order of each sender. See
// docs/native-mapping.md, "Thread queues and windows".
#include "platform/thread_queue.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/clock.h"
#include "platform/posix/message_state.h"
#include "platform/posix/runtime_dir.h"

namespace qor::platform {

using posix::ThreadQueue;

namespace {

// Windows refuses posts beyond 10000 waiting messages; so do we, for posts
// from this process. Posts from other processes wait this long for room in
// the receiver's socket before they fail.
constexpr std::size_t local_queue_limit = 10000;
constexpr int remote_post_wait_ms = 2000;
constexpr std::size_t post_record_size = 20;

struct Registry {
  std::mutex lock;
  std::map<ThreadId, std::shared_ptr<ThreadQueue>> queues;
};

// Never destroyed: threads may end after static destructors have run.
Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

bool make_address(const std::string& path, sockaddr_un& addr) {
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The folder is made once; the runtime directory itself never changes in a
// process.
const std::string& threads_dir() {
  static const std::string& dir = *new std::string(posix::runtime_subdir("threads"));  // never destroyed
  return dir;
}

std::string queue_path(ThreadId tid) { return threads_dir() + "/" + std::to_string(tid); }

void unlink_process_queues() {
  Registry& r = registry();
  if (!r.lock.try_lock()) return;
  for (auto& entry : r.queues) unlink(entry.second->path.c_str());
  r.lock.unlock();
}

void at_process_exit() {
  unlink_process_queues();
  posix::unlink_process_windows();
}

// Registered when the OS layer is loaded, before any module that uses it:
// exit handlers run in reverse order, so the modules' own exit work (which
// may still post, send and find windows) runs before this clean-up.
__attribute__((constructor)) void register_exit_hook() { std::atexit(at_process_exit); }

void close_queue(const std::shared_ptr<ThreadQueue>& queue) {
  posix::destroy_thread_windows(*queue);
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.queues.find(queue->tid);
    if (it != r.queues.end() && it->second == queue) r.queues.erase(it);
  }
  {
    std::lock_guard<std::mutex> guard(queue->lock);
    queue->closed = true;
    queue->local.clear();
  }
  unlink(queue->path.c_str());
  close(queue->sock);
  close(queue->wake);
}

// The calling thread's queue; it ends with the thread.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (queue) close_queue(queue);
  }
};
thread_local QueueHolder own;

// Posts to other processes leave through one unbound socket per thread.
struct SenderSocket {
  int fd = -1;
  ~SenderSocket() {
    if (fd >= 0) close(fd);
  }
};
thread_local SenderSocket sender;

std::shared_ptr<ThreadQueue> make_queue() {
  auto queue = std::make_shared<ThreadQueue>();
  queue->tid = current_thread_id();
  posix::runtime_subdir("threads");  // made again if it was removed meanwhile
  queue->path = queue_path(queue->tid);
  sockaddr_un addr;
  if (!make_address(queue->path, addr)) return nullptr;
  queue->sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  queue->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (queue->sock < 0 || queue->wake < 0) {
    if (queue->sock >= 0) close(queue->sock);
    if (queue->wake >= 0) close(queue->wake);
    return nullptr;
  }
  // A socket left by an ended process whose thread had this id is stale: no
  // live thread but this one has the id.
  unlink(queue->path.c_str());
  if (bind(queue->sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(queue->sock);
    close(queue->wake);
    return nullptr;
  }
  // Every user of the machine may post to it.
  chmod(queue->path.c_str(), 0666);
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.queues[queue->tid] = queue;
  return queue;
}

Message decode_post(const unsigned char* p) {
  Message m;
  m.window = static_cast<WindowHandle>(posix::get_u64(p));
  m.id = posix::get_u32(p + 8);
  m.wparam = posix::get_u32(p + 12);
  m.lparam = posix::get_u32(p + 16);
  return m;
}

void accept_arrival(ThreadQueue& queue, const Message& m) {
  // Messages for a window that has gone meanwhile are dropped, as Windows
  // drops them when the window is destroyed.
  if (m.window != no_window && !posix::owns_window(queue, m.window)) return;
  queue.pending.push_back(m);
}

// Moves every arrived post into `pending`, without waiting.
void drain(ThreadQueue& queue) {
  std::uint64_t count;
  while (read(queue.wake, &count, sizeof count) > 0) {
  }
  std::deque<Message> arrived;
  {
    std::lock_guard<std::mutex> guard(queue.lock);
    arrived.swap(queue.local);
  }
  for (const Message& m : arrived) accept_arrival(queue, m);
  unsigned char buffer[64];
  for (;;) {
    ssize_t n = recv(queue.sock, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    // Datagrams of another size are not ours: ignored.
    if (static_cast<std::size_t>(n) == post_record_size) accept_arrival(queue, decode_post(buffer));
  }
}

posix::Timer* due_timer(ThreadQueue& queue, std::uint32_t now) {
  posix::Timer* first = nullptr;
  for (auto& t : queue.timers) {
    if (static_cast<std::int32_t>(now - t.due) < 0) continue;
    if (!first || static_cast<std::int32_t>(t.due - first->due) < 0) first = &t;
  }
  return first;
}

// Milliseconds until the next timer is due (0 when one is), -1 without timers.
int next_timer_ms(ThreadQueue& queue, std::uint32_t now) {
  int best = -1;
  for (auto& t : queue.timers) {
    std::int32_t left = static_cast<std::int32_t>(t.due - now);
    int ms = left < 0 ? 0 : left;
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

}  // namespace

namespace posix {

ThreadQueue* own_queue(bool create) {
  if (!own.queue && create) own.queue = make_queue();
  return own.queue.get();
}

std::shared_ptr<ThreadQueue> find_local_queue(ThreadId tid) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.queues.find(tid);
  return it == r.queues.end() ? nullptr : it->second;
}

bool post_local(ThreadQueue& queue, const Message& message) {
  {
    std::lock_guard<std::mutex> guard(queue.lock);
    if (queue.closed || queue.local.size() >= local_queue_limit) return false;
    queue.local.push_back(message);
  }
  std::uint64_t one = 1;
  return write(queue.wake, &one, sizeof one) == sizeof one || errno == EAGAIN;
}

bool post_remote(ThreadId tid, const Message& message) {
  sockaddr_un addr;
  if (!make_address(queue_path(tid), addr)) return false;
  if (sender.fd < 0) {
    sender.fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender.fd < 0) return false;
    // A full receiver makes the send wait for room; not for ever.
    timeval limit{remote_post_wait_ms / 1000, (remote_post_wait_ms % 1000) * 1000};
    setsockopt(sender.fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  unsigned char record[post_record_size];
  put_u64(record, static_cast<std::uint64_t>(message.window));
  put_u32(record + 8, message.id);
  put_u32(record + 12, message.wparam);
  put_u32(record + 16, message.lparam);
  for (;;) {
    ssize_t n = sendto(sender.fd, record, sizeof record, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof record);
  }
}

void wait_input(ThreadQueue* queue, bool posts, std::vector<pollfd>& extra, int timeout_ms) {
  std::vector<pollfd> fds = extra;
  if (queue) {
    if (posts) {
      fds.push_back({queue->sock, POLLIN, 0});
      fds.push_back({queue->wake, POLLIN, 0});
    }
    add_serving_fds(*queue, fds);
  }
  int n = poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout_ms);
  if (n > 0)
    for (std::size_t i = 0; i < extra.size(); ++i) extra[i].revents = fds[i].revents;
}

}  // namespace posix

ThreadId current_thread_id() { return static_cast<ThreadId>(syscall(SYS_gettid)); }

bool post_thread_message(ThreadId thread, std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  if (thread == 0) return false;
  Message m{no_window, message, wparam, lparam};
  if (auto queue = posix::find_local_queue(thread)) return posix::post_local(*queue, m);
  return posix::post_remote(thread, m);
}

bool create_thread_queue() { return posix::own_queue(true) != nullptr; }

bool peek_message(Message& out, bool remove) {
  ThreadQueue* queue = posix::own_queue(true);
  if (!queue) return false;
  posix::serve_ready_sends(*queue);
  drain(*queue);
  if (!queue->pending.empty()) {
    out = queue->pending.front();
    if (remove) queue->pending.pop_front();
    return true;
  }
  std::uint32_t now = tick_ms();
  if (posix::Timer* t = due_timer(*queue, now)) {
    out = Message{t->window, msg_timer, t->id, 0};
    if (remove) t->due = now + t->period;
    return true;
  }
  return false;
}

bool wait_message(std::uint32_t timeout_ms) {
  ThreadQueue* queue = posix::own_queue(true);
  if (!queue) return false;
  std::uint32_t start = tick_ms();
  for (;;) {
    Message m;
    if (peek_message(m, false)) return true;
    std::uint32_t now = tick_ms();
    int wait = -1;
    if (timeout_ms != wait_forever) {
      std::uint32_t elapsed = now - start;
      if (elapsed >= timeout_ms) return false;
      wait = static_cast<int>(timeout_ms - elapsed);
    }
    int timer = next_timer_ms(*queue, now);
    if (timer >= 0 && (wait < 0 || timer < wait)) wait = timer;
    std::vector<pollfd> none;
    posix::wait_input(queue, true, none, wait);
  }
}

bool get_message(Message& out) {
  if (!posix::own_queue(true)) {
    // No queue can be made: reported like the quit message, as GetMessage's
    // error is by the win32 back end, rather than waiting for ever.
    out = Message{no_window, msg_quit, 0, 0};
    return false;
  }
  for (;;) {
    if (peek_message(out, true)) return out.id != msg_quit;
    wait_message(wait_forever);
  }
}

void serve_sent_messages() {
  if (ThreadQueue* queue = posix::own_queue(false)) posix::serve_ready_sends(*queue);
}

}  // namespace qor::platform
