#include "platform/process.h"

#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <vector>

namespace qor::platform {

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

std::string find_executable(const std::string& file, const std::string& folder) {
  if (file.empty()) return std::string();
  char result[MAX_PATH] = {};
  auto code =
      reinterpret_cast<INT_PTR>(FindExecutableA(file.c_str(), folder.empty() ? nullptr : folder.c_str(), result));
  if (code <= 32) return std::string();
  return result;
}

static std::wstring wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

static std::string narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::vector<std::string> split_command_line(const std::string& command_line) {
  std::vector<std::string> args;
  // CommandLineToArgvW answers an empty line with this program's own path.
  if (command_line.empty()) return args;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(wide(command_line).c_str(), &count);
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.push_back(narrow(argv[i]));
  LocalFree(argv);
  return args;
}

struct Process::State {
  HANDLE process = nullptr;
  DWORD process_id = 0;
  DWORD thread_id = 0;
};

Process::Process() = default;
Process::~Process() {
  if (state_) CloseHandle(state_->process);
}
Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Process released(std::move(*this));
    state_ = std::move(other.state_);
  }
  return *this;
}

std::uint32_t Process::id() const { return state_ ? state_->process_id : 0; }

ThreadId Process::main_thread() const { return state_ ? state_->thread_id : 0; }

bool Process::running() const { return state_ && WaitForSingleObject(state_->process, 0) == WAIT_TIMEOUT; }

bool Process::wait(std::uint32_t timeout_ms, std::uint32_t* exit_code) {
  if (!state_ || WaitForSingleObject(state_->process, timeout_ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (exit_code) *exit_code = GetExitCodeProcess(state_->process, &code) ? code : 0xFFFFFFFFu;
  return true;
}

// The exit code of a killed program is the one a SIGKILL gives on native.
bool Process::kill() {
  // Wine accepts the order for a process that has already ended; Windows
  // refuses it. Both targets refuse it here.
  if (!running()) return false;
  return TerminateProcess(state_->process, 128 + 9) != 0;
}

Process start_process(const std::string& command_line, const std::string& folder) {
  if (command_line.empty()) return Process();
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return Process();
  CloseHandle(info.hThread);
  Process process;
  process.state_.reset(new Process::State{info.hProcess, info.dwProcessId, info.dwThreadId});
  return process;
}

bool ask_to_quit(ThreadId main_thread) {
  return main_thread != 0 && PostThreadMessageA(main_thread, WM_QUIT, 0, 0) != 0;
}

}  // namespace qor::platform
