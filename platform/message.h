#pragma once
// Message numbers and the message record shared by thread queues and windows.
// The numbers are the Windows ones, so both targets speak the same values.
#include <cstdint>

namespace qor::platform {

// A system-wide thread id (GetCurrentThreadId on win32, the kernel tid on Linux).
using ThreadId = std::uint32_t;

// A top-level window; 0 is "no window".
using WindowHandle = std::uintptr_t;
constexpr WindowHandle no_window = 0;

constexpr std::uint32_t msg_close = 0x0010;     // WM_CLOSE
constexpr std::uint32_t msg_quit = 0x0012;      // WM_QUIT
constexpr std::uint32_t msg_copydata = 0x004A;  // WM_COPYDATA
constexpr std::uint32_t msg_timer = 0x0113;     // WM_TIMER
constexpr std::uint32_t msg_app = 0x8000;       // WM_APP, first private number

// One queued message: posted to a thread (window == no_window) or to a window.
struct Message {
  WindowHandle window = no_window;
  std::uint32_t id = 0;
  std::uint32_t wparam = 0;
  std::uint32_t lparam = 0;
};

}  // namespace qor::platform
