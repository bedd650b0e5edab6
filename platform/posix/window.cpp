// Native windows. A window is a listening SOCK_SEQPACKET socket at
// <runtime>/windows/<handle>.sock with <handle>.info beside it (owner
// process, thread, start time, title). Sent messages arrive as connections
// that the owner thread serves from its pump; posted messages travel through
// the owner thread's queue. See docs/native-mapping.md, "Thread queues and
// windows".
#include "platform/window.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "platform/clock.h"
#include "platform/posix/message_state.h"
#include "platform/posix/runtime_dir.h"
#include "platform/process.h"
#include "platform/thread_queue.h"

namespace qor::platform {

namespace posix {

struct Window {
  WindowHandle handle = no_window;
  ThreadId owner = 0;
  std::string title;
  WindowHandler handler;
  std::vector<std::uint32_t> data_messages;
  int listen_fd = -1;
  std::string sock_path, info_path;
  bool alive = true;  // owner thread only
};

// One send being read by the owner thread.
struct SentRequest {
  int fd = -1;
  std::shared_ptr<Window> window;
  std::uint32_t peer_pid = 0;
  bool have_header = false;
  std::uint32_t kind = 0, id = 0, wparam = 0, lparam = 0;
  std::vector<unsigned char> data;
  std::size_t got = 0;
};

}  // namespace posix

using posix::SentRequest;
using posix::ThreadQueue;
using posix::Window;

namespace {

// Request: a 24-byte header packet (kind, id, wparam, lparam or tag, size,
// 0), then `size` data bytes in packets of at most 64 KiB. Reply: one 4-byte
// packet with the result; a closed connection without it means failure.
constexpr std::uint32_t kind_plain = 1;
constexpr std::uint32_t kind_data = 2;
constexpr std::size_t header_size = 24;
constexpr std::size_t chunk_size = 64 * 1024;
constexpr std::uint32_t max_block = 16 * 1024 * 1024;
constexpr WindowHandle desktop_handle = 1;  // process field 0: never a window of ours
constexpr std::uint32_t min_timer_ms = 10;
constexpr std::uint32_t max_timer_ms = 0x7FFFFFFF;

struct WindowRegistry {
  std::mutex lock;
  std::map<WindowHandle, std::shared_ptr<Window>> windows;
};

WindowRegistry& registry() {
  static WindowRegistry* r = new WindowRegistry;
  return *r;
}

std::shared_ptr<Window> find_local(WindowHandle handle) {
  WindowRegistry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.windows.find(handle);
  return it == r.windows.end() ? nullptr : it->second;
}

// Handles: the process id in the high half, a per-process sequence from a
// random start in the low half, so that a reused process id does not bring
// back the handles of the ended process.
WindowHandle next_handle() {
  static std::atomic<std::uint32_t> sequence{std::random_device{}()};
  std::uint32_t low;
  do low = ++sequence;
  while (low == 0);
  return (static_cast<WindowHandle>(current_process_id()) << 32) | low;
}

std::string hex_name(WindowHandle handle) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(handle));
  return text;
}

const std::string& windows_dir() {
  static const std::string& dir = *new std::string(posix::runtime_subdir("windows"));  // never destroyed
  return dir;
}

bool make_address(const std::string& path, sockaddr_un& addr) {
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Windows compares titles without regard to case in the ANSI code page;
// ours is Windows-1252.
unsigned char fold(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  switch (c) {
    case 0x9A:
      return 0x8A;
    case 0x9C:
      return 0x8C;
    case 0x9E:
      return 0x8E;
    case 0xFF:
      return 0x9F;
    default:
      return c;
  }
}

bool same_title(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

struct Info {
  std::uint32_t pid = 0;
  ThreadId tid = 0;
  std::uint64_t start = 0;
  std::uint64_t created = 0;
  std::string title;
};

std::string info_text(const Info& info) {
  std::ostringstream out;
  out << "pid " << info.pid << "\ntid " << info.tid << "\nstart " << info.start << "\ncreated " << info.created
      << "\ntitle " << info.title;
  return out.str();
}

bool read_info(const std::string& path, Info& info) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = 0;
  auto number = [&](const char* key, std::uint64_t& value) {
    std::string prefix = std::string(key) + " ";
    if (text.compare(at, prefix.size(), prefix) != 0) return false;
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    value = std::strtoull(text.c_str() + at + prefix.size(), nullptr, 10);
    at = end + 1;
    return true;
  };
  std::uint64_t pid = 0, tid = 0;
  if (!number("pid", pid) || !number("tid", tid) || !number("start", info.start) || !number("created", info.created))
    return false;
  if (text.compare(at, 6, "title ") != 0) return false;
  info.pid = static_cast<std::uint32_t>(pid);
  info.tid = static_cast<ThreadId>(tid);
  info.title = text.substr(at + 6);
  return true;
}

bool write_info(const std::string& dir, const std::string& name, const std::string& path, const Info& info) {
  // Written beside and renamed into place: a reader sees all of it or nothing.
  std::string temp = dir + "/." + name + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string text = info_text(info);
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  fchmod(fd, 0644);
  close(fd);
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

bool owner_alive(const Info& info) {
  if (info.pid == 0) return false;
  std::uint64_t start = posix::process_start_time(info.pid);
  if (start != 0) return start == info.start;
  // Without a readable /proc entry only the process id can be tested.
  return kill(static_cast<pid_t>(info.pid), 0) == 0 || errno == EPERM;
}

std::string info_path_of(WindowHandle handle) { return windows_dir() + "/" + hex_name(handle) + ".info"; }
std::string sock_path_of(WindowHandle handle) { return windows_dir() + "/" + hex_name(handle) + ".sock"; }

// The record of a live window of any process.
bool live_info(WindowHandle handle, Info& info) {
  if (handle == no_window || handle == desktop_handle) return false;
  return read_info(info_path_of(handle), info) && owner_alive(info);
}

bool forwarded(std::uint32_t id) {
  return id == msg_close || id == msg_quit || id == msg_copydata || id == msg_timer || id >= 0x0400;
}

bool lists(const Window& window, std::uint32_t id) {
  return std::find(window.data_messages.begin(), window.data_messages.end(), id) != window.data_messages.end();
}

void close_request(SentRequest& request) {
  if (request.fd >= 0) close(request.fd);
  request.fd = -1;
}

void remove_request(ThreadQueue& queue, const std::shared_ptr<SentRequest>& request) {
  auto it = std::find(queue.requests.begin(), queue.requests.end(), request);
  if (it != queue.requests.end()) queue.requests.erase(it);
}

void destroy(ThreadQueue& queue, const std::shared_ptr<Window>& window) {
  if (!window->alive) return;
  window->alive = false;
  // The record first, so that nobody finds a window that refuses them.
  unlink(window->info_path.c_str());
  close(window->listen_fd);
  unlink(window->sock_path.c_str());
  window->listen_fd = -1;
  {
    WindowRegistry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.windows.erase(window->handle);
  }
  queue.windows.erase(std::remove(queue.windows.begin(), queue.windows.end(), window), queue.windows.end());
  queue.timers.erase(std::remove_if(queue.timers.begin(), queue.timers.end(),
                                    [&](const posix::Timer& t) { return t.window == window->handle; }),
                     queue.timers.end());
  queue.pending.erase(std::remove_if(queue.pending.begin(), queue.pending.end(),
                                     [&](const Message& m) { return m.window == window->handle; }),
                      queue.pending.end());
  // Senders still waiting for this window fail.
  for (auto it = queue.requests.begin(); it != queue.requests.end();) {
    if ((*it)->window == window) {
      close_request(**it);
      it = queue.requests.erase(it);
    } else {
      ++it;
    }
  }
}

// Calls the handler on the owner thread, with the default processing.
std::uint32_t invoke(const std::shared_ptr<Window>& window, const WindowMessage& message) {
  HandlerResult result;
  if (forwarded(message.id) && window->handler) result = window->handler(window->handle, message);
  if (result) return *result;
  if (message.id == msg_close) {
    if (ThreadQueue* queue = posix::own_queue(false)) destroy(*queue, window);
  }
  return 0;
}

enum class ReadState { incomplete, complete, broken };

ReadState read_request(SentRequest& request) {
  if (!request.have_header) {
    unsigned char header[header_size];
    ssize_t n = recv(request.fd, header, sizeof header, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return ReadState::incomplete;
    if (n != static_cast<ssize_t>(header_size)) return ReadState::broken;
    request.kind = posix::get_u32(header);
    request.id = posix::get_u32(header + 4);
    request.wparam = posix::get_u32(header + 8);
    request.lparam = posix::get_u32(header + 12);
    std::uint32_t size = posix::get_u32(header + 16);
    if (request.kind != kind_plain && request.kind != kind_data) return ReadState::broken;
    if (size > max_block || (request.kind == kind_plain && size != 0)) return ReadState::broken;
    request.data.resize(size);
    request.have_header = true;
  }
  while (request.got < request.data.size()) {
    std::size_t left = request.data.size() - request.got;
    ssize_t n = recv(request.fd, request.data.data() + request.got, left, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return ReadState::incomplete;
    if (n <= 0 || static_cast<std::size_t>(n) > left) return ReadState::broken;
    request.got += static_cast<std::size_t>(n);
  }
  return ReadState::complete;
}

// Whether the request may reach the handler at all: data messages other than
// copy-data only from this process, and only numbers the window lists.
bool admissible(const SentRequest& request) {
  if (request.kind == kind_plain) return request.id != msg_copydata;
  if (request.id == msg_copydata) return true;
  return request.peer_pid == current_process_id() && lists(*request.window, request.id);
}

void answer(const std::shared_ptr<SentRequest>& request) {
  WindowMessage message;
  message.id = request->id;
  message.wparam = request->wparam;
  message.lparam = request->lparam;
  if (request->kind == kind_data) {
    message.has_data = true;
    message.data = request->data.data();
    message.size = static_cast<std::uint32_t>(request->data.size());
  }
  std::uint32_t result = invoke(request->window, message);
  unsigned char reply[4];
  posix::put_u32(reply, result);
  // The sender may have gone meanwhile; nothing is left to do then.
  send(request->fd, reply, sizeof reply, MSG_DONTWAIT | MSG_NOSIGNAL);
  close_request(*request);
}

std::uint32_t peer_pid(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return 0;
  return static_cast<std::uint32_t>(cred.pid);
}

std::shared_ptr<Window> own_window(WindowHandle handle) {
  auto window = find_local(handle);
  if (!window || window->owner != current_thread_id() || !window->alive) return nullptr;
  return window;
}

// A send through the window's socket; the calling thread's windows are
// served while it waits.
std::optional<std::uint32_t> send_request(WindowHandle handle, std::uint32_t kind, std::uint32_t id,
                                          std::uint32_t wparam, std::uint32_t lparam, const void* data,
                                          std::uint32_t size) {
  if (handle == no_window || handle == desktop_handle) return std::nullopt;
  sockaddr_un addr;
  if (!make_address(sock_path_of(handle), addr)) return std::nullopt;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  int r;
  do r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  while (r != 0 && errno == EINTR);
  if (r != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
    close(fd);
    return std::nullopt;
  }
  unsigned char header[header_size] = {};
  posix::put_u32(header, kind);
  posix::put_u32(header + 4, id);
  posix::put_u32(header + 8, wparam);
  posix::put_u32(header + 12, lparam);
  posix::put_u32(header + 16, size);
  const auto* bytes = static_cast<const unsigned char*>(data);
  bool header_sent = false;
  std::size_t sent = 0;
  std::optional<std::uint32_t> result;
  ThreadQueue* queue = posix::own_queue(false);
  for (;;) {
    short events = 0;
    if (!header_sent || sent < size) {
      const unsigned char* packet = header_sent ? bytes + sent : header;
      std::size_t length = header_sent ? std::min<std::size_t>(chunk_size, size - sent) : header_size;
      ssize_t n = send(fd, packet, length, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n == static_cast<ssize_t>(length)) {
        if (header_sent)
          sent += length;
        else
          header_sent = true;
        continue;
      }
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
      events = POLLOUT;
    } else {
      unsigned char reply[8];
      ssize_t n = recv(fd, reply, sizeof reply, MSG_DONTWAIT);
      if (n == 4) {
        result = posix::get_u32(reply);
        break;
      }
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
      events = POLLIN;
    }
    std::vector<pollfd> extra{{fd, events, 0}};
    posix::wait_input(queue, false, extra, -1);
    if (queue) posix::serve_ready_sends(*queue);
  }
  close(fd);
  return result;
}

}  // namespace

namespace posix {

std::uint64_t process_start_time(std::uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!in || !std::getline(in, text)) return 0;
  // The name in parentheses may hold spaces: count fields after its end.
  std::size_t close_paren = text.rfind(')');
  if (close_paren == std::string::npos) return 0;
  std::istringstream fields(text.substr(close_paren + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i)
    if (!(fields >> field)) return 0;
  return std::strtoull(field.c_str(), nullptr, 10);
}

void serve_ready_sends(ThreadQueue& queue) {
  // New connections first.
  std::vector<std::shared_ptr<Window>> windows = queue.windows;
  for (auto& window : windows) {
    while (window->alive) {
      int fd = accept4(window->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      auto request = std::make_shared<SentRequest>();
      request->fd = fd;
      request->window = window;
      request->peer_pid = peer_pid(fd);
      queue.requests.push_back(request);
    }
  }
  // A handler may pump again; every request is taken out of the list before
  // its handler runs, so that each is answered exactly once.
  std::vector<std::shared_ptr<SentRequest>> requests = queue.requests;
  for (auto& request : requests) {
    if (request->fd < 0) continue;
    ReadState state = read_request(*request);
    if (state == ReadState::incomplete) continue;
    remove_request(queue, request);
    if (state == ReadState::complete && request->window->alive && admissible(*request))
      answer(request);
    else
      close_request(*request);
  }
}

void add_serving_fds(ThreadQueue& queue, std::vector<pollfd>& fds) {
  for (auto& window : queue.windows)
    if (window->alive) fds.push_back({window->listen_fd, POLLIN, 0});
  for (auto& request : queue.requests)
    if (request->fd >= 0) fds.push_back({request->fd, POLLIN, 0});
}

bool owns_window(ThreadQueue& queue, WindowHandle window) {
  for (auto& w : queue.windows)
    if (w->handle == window && w->alive) return true;
  return false;
}

void destroy_thread_windows(ThreadQueue& queue) {
  std::vector<std::shared_ptr<Window>> windows = queue.windows;
  for (auto& window : windows) destroy(queue, window);
  for (auto& request : queue.requests) close_request(*request);
  queue.requests.clear();
}

void unlink_process_windows() {
  WindowRegistry& r = registry();
  if (!r.lock.try_lock()) return;
  for (auto& entry : r.windows) {
    unlink(entry.second->info_path.c_str());
    unlink(entry.second->sock_path.c_str());
  }
  r.lock.unlock();
}

}  // namespace posix

WindowHandle create_window(const std::string& title, WindowHandler handler, std::vector<std::uint32_t> data_messages) {
  ThreadQueue* queue = posix::own_queue(true);
  if (!queue) return no_window;
  auto window = std::make_shared<Window>();
  window->handle = next_handle();
  window->owner = current_thread_id();
  window->title = title;
  window->handler = std::move(handler);
  window->data_messages = std::move(data_messages);
  // Made again if it was removed meanwhile.
  std::string dir = posix::runtime_subdir("windows");
  std::string name = hex_name(window->handle);
  window->sock_path = dir + "/" + name + ".sock";
  window->info_path = dir + "/" + name + ".info";
  sockaddr_un addr;
  if (!make_address(window->sock_path, addr)) return no_window;
  window->listen_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (window->listen_fd < 0) return no_window;
  unlink(window->sock_path.c_str());
  Info info;
  info.pid = current_process_id();
  info.tid = window->owner;
  info.start = posix::process_start_time(info.pid);
  info.created = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  info.title = title;
  // The socket first: a window that can be found can be reached.
  if (bind(window->listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      chmod(window->sock_path.c_str(), 0666) != 0 || listen(window->listen_fd, SOMAXCONN) != 0 ||
      !write_info(dir, name, window->info_path, info)) {
    close(window->listen_fd);
    unlink(window->sock_path.c_str());
    return no_window;
  }
  {
    WindowRegistry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.windows[window->handle] = window;
  }
  queue->windows.push_back(window);
  return window->handle;
}

bool destroy_window(WindowHandle handle) {
  ThreadQueue* queue = posix::own_queue(false);
  auto window = own_window(handle);
  if (!queue || !window) return false;
  destroy(*queue, window);
  return true;
}

bool is_window(WindowHandle handle) {
  if (handle == desktop_handle) return true;
  Info info;
  return live_info(handle, info);
}

WindowHandle find_window(const std::string& title) {
  std::string dir = windows_dir();
  DIR* listing = opendir(dir.c_str());
  if (!listing) return no_window;
  WindowHandle best = no_window;
  std::uint64_t best_created = 0;
  const std::string suffix = ".info";
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name.size() != 16 + suffix.size() || name.compare(16, suffix.size(), suffix) != 0) continue;
    char* end = nullptr;
    auto handle = static_cast<WindowHandle>(std::strtoull(name.substr(0, 16).c_str(), &end, 16));
    Info info;
    if (handle == no_window || !read_info(dir + "/" + name, info)) continue;
    if (!owner_alive(info)) {
      // Left by an ended process: cleaned up.
      unlink((dir + "/" + name).c_str());
      unlink((dir + "/" + name.substr(0, 16) + ".sock").c_str());
      continue;
    }
    // The newest of several windows of one title, like the top of the
    // Windows z-order.
    if (same_title(info.title, title) && (best == no_window || info.created >= best_created)) {
      best = handle;
      best_created = info.created;
    }
  }
  closedir(listing);
  return best;
}

WindowHandle window_parent(WindowHandle) { return no_window; }

WindowHandle desktop_window() { return desktop_handle; }

std::uint32_t window_process_id(WindowHandle handle) {
  Info info;
  return live_info(handle, info) ? info.pid : 0;
}

ThreadId window_thread_id(WindowHandle handle) {
  Info info;
  return live_info(handle, info) ? info.tid : 0;
}

bool post_message(WindowHandle handle, std::uint32_t id, std::uint32_t wparam, std::uint32_t lparam) {
  if (id == msg_copydata) return false;
  Message message{handle, id, wparam, lparam};
  if (auto window = find_local(handle)) {
    auto queue = posix::find_local_queue(window->owner);
    return queue && posix::post_local(*queue, message);
  }
  Info info;
  if (!live_info(handle, info) || info.pid == current_process_id()) return false;
  return posix::post_remote(info.tid, message);
}

std::optional<std::uint32_t> send_message(WindowHandle handle, std::uint32_t id, std::uint32_t wparam,
                                          std::uint32_t lparam) {
  if (id == msg_copydata) return std::nullopt;
  if (auto window = own_window(handle)) {
    WindowMessage message;
    message.id = id;
    message.wparam = wparam;
    message.lparam = lparam;
    return invoke(window, message);
  }
  return send_request(handle, kind_plain, id, wparam, lparam, nullptr, 0);
}

std::optional<std::uint32_t> send_data(WindowHandle handle, std::uint32_t id, std::uint32_t wparam, std::uint32_t tag,
                                       const void* data, std::uint32_t size) {
  if (size > max_block || (size > 0 && !data)) return std::nullopt;
  auto local = find_local(handle);
  if (id != msg_copydata && (!local || !lists(*local, id))) return std::nullopt;
  if (auto window = own_window(handle)) {
    WindowMessage message;
    message.id = id;
    message.wparam = wparam;
    message.lparam = tag;
    message.has_data = true;
    message.data = data;
    message.size = size;
    return invoke(window, message);
  }
  return send_request(handle, kind_data, id, wparam, tag, data, size);
}

bool set_timer(WindowHandle handle, std::uint32_t timer_id, std::uint32_t period_ms) {
  ThreadQueue* queue = posix::own_queue(false);
  if (!queue || !own_window(handle)) return false;
  std::uint32_t period = std::min(std::max(period_ms, min_timer_ms), max_timer_ms);
  std::uint32_t due = tick_ms() + period;
  for (auto& t : queue->timers) {
    if (t.window == handle && t.id == timer_id) {
      t.period = period;
      t.due = due;
      return true;
    }
  }
  queue->timers.push_back(posix::Timer{handle, timer_id, period, due});
  return true;
}

bool kill_timer(WindowHandle handle, std::uint32_t timer_id) {
  ThreadQueue* queue = posix::own_queue(false);
  if (!queue) return false;
  auto& timers = queue->timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const posix::Timer& t) { return t.window == handle && t.id == timer_id; });
  if (it == timers.end()) return false;
  timers.erase(it);
  return true;
}

std::uint32_t dispatch_message(const Message& message) {
  if (message.window == no_window) return 0;
  auto window = own_window(message.window);
  if (!window) return 0;
  WindowMessage m;
  m.id = message.id;
  m.wparam = message.wparam;
  m.lparam = message.lparam;
  return invoke(window, m);
}

}  // namespace qor::platform
