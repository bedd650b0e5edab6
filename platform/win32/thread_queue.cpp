// Thread message queues on the real services: every thread has one user32
// queue, created by its first peek.
#include "platform/thread_queue.h"

#include <windows.h>

namespace qor::platform {

namespace {

Message from_msg(const MSG& msg) {
  Message m;
  m.window = reinterpret_cast<WindowHandle>(msg.hwnd);
  m.id = msg.message;
  m.wparam = static_cast<std::uint32_t>(msg.wParam);
  m.lparam = static_cast<std::uint32_t>(msg.lParam);
  return m;
}

}  // namespace

ThreadId current_thread_id() { return GetCurrentThreadId(); }

bool post_thread_message(ThreadId thread, std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  // No thread has id 0 (Wine's PostThreadMessage reports success for it).
  if (thread == 0) return false;
  return PostThreadMessageA(thread, message, wparam, static_cast<LPARAM>(lparam)) != 0;
}

bool create_thread_queue() {
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  return true;
}

bool peek_message(Message& out, bool remove) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE)) return false;
  out = from_msg(msg);
  return true;
}

bool get_message(Message& out) {
  MSG msg;
  BOOL r = GetMessageA(&msg, nullptr, 0, 0);
  out = from_msg(msg);
  if (r == -1) out = Message{no_window, msg_quit, 0, 0};
  return r > 0;
}

bool wait_message(std::uint32_t timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    // The peek serves sent messages; a wake-up for one of them alone goes
    // on waiting for the rest of the time.
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return true;
    DWORD wait = INFINITE;
    if (timeout_ms != wait_forever) {
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeout_ms) return false;
      wait = timeout_ms - elapsed;
    }
    // MWMO_INPUTAVAILABLE: also wake for input that a peek has seen already.
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void serve_sent_messages() {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace qor::platform
