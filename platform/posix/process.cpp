#include "platform/process.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/pidfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/module.h"
#include "platform/thread_queue.h"

extern char** environ;

namespace qor::platform {

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(getpid()); }

// ---------------------------------------------------------------------------
// Paths

static std::string current_folder() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

// `path` made absolute against the current folder, with "." and empty
// segments dropped and ".." taken back lexically, as Windows does it.
static std::string absolute_path(const std::string& path) {
  std::string full = !path.empty() && path[0] == '/' ? path : current_folder() + "/" + path;
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const auto& part : parts) result += "/" + part;
  return result.empty() ? std::string("/") : result;
}

static bool is_program_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

static bool ends_with_exe(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".exe";
}

// The program file for `path` (absolute): the path itself, or without its
// ".exe" suffix. Empty when neither is a program file.
static std::string program_file(const std::string& path) {
  if (is_program_file(path)) return path;
  if (ends_with_exe(path)) {
    std::string bare = path.substr(0, path.size() - 4);
    if (bare.back() != '/' && is_program_file(bare)) return bare;
  }
  return std::string();
}

std::string find_executable(const std::string& file, const std::string& folder) {
  if (file.empty()) return std::string();
  std::string path = file[0] == '/' ? file : (folder.empty() ? std::string(".") : folder) + "/" + file;
  return program_file(absolute_path(path));
}

// The program named by the first word of a command line, searched the way
// CreateProcess searches: a name with a folder part counts from the current
// folder; a bare name is looked for beside this program, in the current
// folder, then along PATH.
static std::string resolve_program(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return program_file(absolute_path(name));
  std::vector<std::string> folders{folder_of(executable_path()), current_folder()};
  if (const char* path = std::getenv("PATH")) {
    std::string list = path;
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      folders.push_back(end > start ? list.substr(start, end - start) : std::string("."));
      start = end + 1;
    }
  }
  for (const auto& folder : folders) {
    std::string found = program_file(absolute_path(folder + "/" + name));
    if (!found.empty()) return found;
  }
  return std::string();
}

// ---------------------------------------------------------------------------
// Command lines

std::vector<std::string> split_command_line(const std::string& line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto blank = [&](std::size_t at) { return line[at] == ' ' || line[at] == '\t'; };

  // The program word: up to the next quote when it starts with one, else up
  // to the next blank; backslashes are plain characters here.
  std::string word;
  if (i < n && line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') word += line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !blank(i)) word += line[i++];
  }
  while (i < n && blank(i)) ++i;
  if (word.empty() && i >= n && line.empty()) return args;
  args.push_back(word);

  // quotes: the quotes seen in the current run, counting the one that opened
  // a quoted part; odd means inside quotes.
  int quotes = 0;
  std::size_t backslashes = 0;
  bool in_word = false;
  word.clear();
  while (i < n) {
    char c = line[i];
    if (blank(i) && quotes == 0) {
      args.push_back(word);
      word.clear();
      in_word = false;
      backslashes = 0;
      while (i < n && blank(i)) ++i;
      continue;
    }
    in_word = true;
    if (c == '\\') {
      word += c;
      ++backslashes;
      ++i;
    } else if (c == '"') {
      if (backslashes % 2 == 0) {
        word.erase(word.size() - backslashes / 2);
        ++quotes;
      } else {
        word.erase(word.size() - backslashes / 2 - 1);
        word += '"';
      }
      ++i;
      backslashes = 0;
      // A run of quotes: every third gives a literal quote.
      while (i < n && line[i] == '"') {
        if (++quotes == 3) {
          word += '"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
    } else {
      word += c;
      backslashes = 0;
      ++i;
    }
  }
  if (in_word) args.push_back(word);
  return args;
}

// ---------------------------------------------------------------------------
// Started programs
//
// Every program started here is recorded in one table of the process, by
// pid, until it has ended and been reaped and no Process object refers to it
// any more. The table is what makes the signal path safe: only a child that
// has not been reaped (so its pid cannot belong to anyone else) is signalled,
// through a pidfd where the kernel offers one. Children that nobody waits for
// are reaped whenever a start, a quit request or a released handle passes by.

struct Child {
  pid_t pid = 0;
  int pidfd = -1;
  bool ended = false;
  std::uint32_t exit_code = 0;
};

struct Process::State {
  std::shared_ptr<Child> child;
};

namespace {

std::mutex table_lock;
std::map<pid_t, std::shared_ptr<Child>>& table() {
  static auto* children = new std::map<pid_t, std::shared_ptr<Child>>;
  return *children;
}

// Collects the child's status when it has ended. Call with table_lock held.
bool reap(Child& child) {
  if (child.ended) return true;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG) == 0) {
      if (info.si_pid == 0) return false;
      child.ended = true;
      child.exit_code = info.si_code == CLD_EXITED ? static_cast<std::uint32_t>(info.si_status)
                                                   : 128u + static_cast<std::uint32_t>(info.si_status);
      return true;
    }
    if (errno == EINTR) continue;
    // Someone else collected it (or SIGCHLD is ignored): only the pidfd can
    // still tell whether it runs; without one, assume it has ended.
    if (child.pidfd >= 0) {
      pollfd probe{child.pidfd, POLLIN, 0};
      if (poll(&probe, 1, 0) == 0) return false;
    }
    child.ended = true;
    child.exit_code = 0xFFFFFFFFu;
    return true;
  }
}

// Drops ended children that no Process object refers to. Call with
// table_lock held.
void sweep() {
  auto& children = table();
  for (auto it = children.begin(); it != children.end();) {
    if (it->second.use_count() == 1 && reap(*it->second)) {
      if (it->second->pidfd >= 0) close(it->second->pidfd);
      it = children.erase(it);
    } else {
      ++it;
    }
  }
}

bool signal_child(const Child& child, int signal_number) {
  if (child.pidfd >= 0) return pidfd_send_signal(child.pidfd, signal_number, nullptr, 0) == 0;
  return ::kill(child.pid, signal_number) == 0;
}

}  // namespace

Process::Process() = default;
Process::~Process() {
  if (!state_) return;
  state_.reset();
  std::lock_guard<std::mutex> guard(table_lock);
  sweep();
}
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Process released(std::move(*this));
    state_ = std::move(other.state_);
  }
  return *this;
}

std::uint32_t Process::id() const { return state_ ? static_cast<std::uint32_t>(state_->child->pid) : 0; }

// The main thread of a Linux process has the process's id as its thread id.
ThreadId Process::main_thread() const { return id(); }

bool Process::running() const {
  if (!state_) return false;
  std::lock_guard<std::mutex> guard(table_lock);
  return !reap(*state_->child);
}

bool Process::wait(std::uint32_t timeout_ms, std::uint32_t* exit_code) {
  if (!state_) return false;
  Child& child = *state_->child;
  std::uint32_t start = tick_ms();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(table_lock);
      if (reap(child)) {
        if (exit_code) *exit_code = child.exit_code;
        return true;
      }
    }
    std::uint32_t spent = tick_ms() - start;
    if (timeout_ms != wait_forever && spent >= timeout_ms) return false;
    // The pidfd becomes readable when the child ends; without one, look
    // again every few milliseconds.
    int slice =
        timeout_ms == wait_forever ? -1 : static_cast<int>(std::min<std::uint32_t>(timeout_ms - spent, INT_MAX));
    if (child.pidfd >= 0) {
      pollfd ended{child.pidfd, POLLIN, 0};
      poll(&ended, 1, slice);
    } else {
      sleep_ms(slice < 0 ? 5u : std::min<std::uint32_t>(5u, static_cast<std::uint32_t>(slice)));
    }
  }
}

bool Process::kill() {
  if (!state_) return false;
  std::lock_guard<std::mutex> guard(table_lock);
  if (reap(*state_->child)) return false;
  return signal_child(*state_->child, SIGKILL);
}

namespace {

// Spawn attributes and actions that give the child a clean start: default
// signal handling with nothing blocked, the working folder, and no
// descriptor beyond 0-2.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  bool ok = true;

  explicit SpawnSetup(const std::string& folder) {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ok = posix_spawnattr_setsigmask(&attributes, &none) == 0 && posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
         posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
         (folder.empty() || posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0) &&
         posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

}  // namespace

Process start_process(const std::string& command_line, const std::string& folder) {
  std::vector<std::string> args = split_command_line(command_line);
  if (args.empty()) return Process();
  std::string program = resolve_program(args[0]);
  if (program.empty()) return Process();
  if (!folder.empty()) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return Process();
  }

  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  SpawnSetup setup(folder);
  if (!setup.ok) return Process();

  std::lock_guard<std::mutex> guard(table_lock);
  sweep();
  pid_t pid = 0;
  // posix_spawn reports a failed chdir or exec as its own result.
  if (posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, argv.data(), environ) != 0)
    return Process();

  auto child = std::make_shared<Child>();
  child->pid = pid;
  child->pidfd = pidfd_open(pid, 0);  // close-on-exec by itself
  table()[pid] = child;

  Process process;
  process.state_.reset(new Process::State{child});
  return process;
}

bool ask_to_quit(ThreadId main_thread) {
  if (main_thread == 0) return false;
  if (post_thread_message(main_thread, msg_quit, 0, 0)) return true;
  std::lock_guard<std::mutex> guard(table_lock);
  sweep();
  auto& children = table();
  auto it = children.find(static_cast<pid_t>(main_thread));
  if (it == children.end() || reap(*it->second)) return false;
  return signal_child(*it->second, SIGTERM);
}

}  // namespace qor::platform
