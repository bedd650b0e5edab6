#pragma once
// Processes: this one, and programs it starts.
//
// A program is started from one command-line string, split into arguments by
// the Windows rules (see split_command_line), with a working folder and no
// inherited handles. It is asked to quit by its main thread's id, which is all
// a caller needs to keep: the quit message when that thread has a message
// queue; on native, a program of ours without a queue gets SIGTERM instead.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"  // wait_forever
#include "platform/message.h"

namespace qor::platform {

std::uint32_t current_process_id();

// The full path of the program that runs `file` when it lies in `folder`
// (a relative folder counts from the current folder; "" means the current
// folder). For a program file that is the file itself. Empty when there is
// no such file or nothing runs it.
//   win32:  FindExecutableA, file associations included.
//   native: the file as named, then, for a name ending in ".exe" (any case),
//           the name without that suffix; the first that is an executable
//           regular file wins ("qorlink.exe" finds the native "qorlink").
//           There are no file associations.
std::string find_executable(const std::string& file, const std::string& folder);

// Splits a command line into its arguments the way Windows does
// (CommandLineToArgvW): the first word, the program, runs to the next blank,
// or when it starts with a quote to the next quote, with no other escapes;
// in the other words blanks inside quotes do not separate, 2n backslashes
// before a quote give n backslashes and the quote opens or closes a quoted
// part, 2n+1 give n backslashes and a literal quote, other backslashes are
// literal, and "" makes an empty argument.
std::vector<std::string> split_command_line(const std::string& command_line);

// The argument quoted (when it needs it) so that split_command_line yields
// it back unchanged. Also right for the program word, as long as the path
// has no quote and does not end in a backslash.
std::string quote_argument(const std::string& argument);

// A started program. Letting go of the object (destroying it) does not end
// the program, as closing the handles of a Windows process does not.
class Process {
 public:
  Process();
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // False for a default-constructed object or a failed start.
  bool started() const { return state_ != nullptr; }
  explicit operator bool() const { return started(); }

  std::uint32_t id() const;
  // The id of the program's main thread: the thread to ask to quit.
  ThreadId main_thread() const;

  bool running() const;

  // Waits at most `timeout_ms` (wait_forever of platform/event.h: no limit)
  // for the program to end. True when it has ended; then `*exit_code`, if
  // given, receives its exit code. On native a program ended by signal N
  // reads as exit code 128 + N, as in the shell.
  bool wait(std::uint32_t timeout_ms, std::uint32_t* exit_code = nullptr);

  // Ends the program at once (TerminateProcess / SIGKILL), for clean-up.
  // True when the order was given.
  bool kill();

  struct State;

 private:
  std::unique_ptr<State> state_;
  friend Process start_process(const std::string& command_line, const std::string& folder);
};

// Starts `command_line` with `folder` as the program's current folder ("":
// this process's current folder; a relative folder counts from it). The
// program is the first word of the command line; a name without a folder is
// looked for in this program's folder, the current folder, then the search
// path; on native a name ending in ".exe" also finds the file without that
// suffix. The new program inherits no handles (native: no descriptor beyond
// 0-2) and this process's environment. An object that is not started() when
// the program cannot be found, the folder does not exist or the start fails.
Process start_process(const std::string& command_line, const std::string& folder);

// Asks the program whose main thread is `main_thread` to quit: posts the
// quit message (msg_quit, both parameters 0) to that thread. On native, when
// that thread has no queue and the program is one this process started and
// has not ended, it is sent SIGTERM instead; no other process is ever sent a
// signal. False when neither was possible (for example the program has
// already ended).
bool ask_to_quit(ThreadId main_thread);

}  // namespace qor::platform
