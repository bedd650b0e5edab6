// Windows on the real services: a hidden, disabled popup window (top-level,
// so FindWindowA finds it), whose window procedure hands our message numbers
// to the handler.
#include "platform/window.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace qor::platform {

namespace {

struct WindowData {
  WindowHandler handler;
  std::vector<std::uint32_t> data_messages;
};

// The window's data, owned through GWLP_USERDATA until WM_NCDESTROY; a
// running handler holds its own reference.
using DataRef = std::shared_ptr<WindowData>;

struct CreateParams {
  DataRef* data;
  bool attached;
};

// A window marks each of its data message numbers with a property, which
// senders in every module of the process can test.
std::string data_property(std::uint32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "QorDataMessage%04X", static_cast<unsigned>(id));
  return name;
}

// SendMessageTimeout tells a failed send from a result of 0; this time-out
// (about 24 days) stands for "no limit".
constexpr UINT send_no_limit = 0x7FFFFFFF;

bool forwarded(UINT id) {
  return id == WM_CLOSE || id == WM_QUIT || id == WM_COPYDATA || id == WM_TIMER || id >= WM_USER;
}

bool lists(const std::vector<std::uint32_t>& numbers, std::uint32_t id) {
  return std::find(numbers.begin(), numbers.end(), id) != numbers.end();
}

// Whether [p, p + n) is committed, readable memory of this process: a data
// descriptor named by a private message is only read when it is.
bool readable(const void* p, SIZE_T n) {
  const char* at = static_cast<const char*>(p);
  const char* end = at + n;
  if (end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(at, &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    DWORD protect = info.Protect & 0xFF;
    bool can_read = protect == PAGE_READONLY || protect == PAGE_READWRITE || protect == PAGE_WRITECOPY ||
                    protect == PAGE_EXECUTE_READ || protect == PAGE_EXECUTE_READWRITE ||
                    protect == PAGE_EXECUTE_WRITECOPY;
    if (!can_read || (info.Protect & PAGE_GUARD)) return false;
    at = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT id, WPARAM wparam, LPARAM lparam) {
  if (id == WM_NCCREATE) {
    auto* params = static_cast<CreateParams*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(params->data));
    params->attached = true;
    return DefWindowProcA(hwnd, id, wparam, lparam);
  }
  auto* ref = reinterpret_cast<DataRef*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (id == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    if (ref)
      for (std::uint32_t number : (*ref)->data_messages) RemovePropA(hwnd, data_property(number).c_str());
    delete ref;
    return DefWindowProcA(hwnd, id, wparam, lparam);
  }
  if (ref && forwarded(id)) {
    DataRef data = *ref;  // the handler may destroy its window
    if (data->handler) {
      WindowMessage m;
      m.id = id;
      m.wparam = static_cast<std::uint32_t>(wparam);
      m.lparam = static_cast<std::uint32_t>(lparam);
      const COPYDATASTRUCT* block = nullptr;
      if (id == WM_COPYDATA)
        block = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      else if (lists(data->data_messages, id) && lparam &&
               readable(reinterpret_cast<const void*>(lparam), sizeof *block))
        block = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (block && (block->cbData == 0 || readable(block->lpData, block->cbData))) {
        m.lparam = static_cast<std::uint32_t>(block->dwData);
        m.has_data = true;
        m.data = block->lpData;
        m.size = block->cbData;
      }
      HandlerResult result = data->handler(reinterpret_cast<WindowHandle>(hwnd), m);
      if (result) return static_cast<LRESULT>(*result);
    }
  }
  return DefWindowProcA(hwnd, id, wparam, lparam);
}

HINSTANCE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&window_proc), &module);
  return module;
}

// Every module that holds this code registers its own class; the name
// carries the procedure's address, so a module loaded again elsewhere never
// meets a class left behind with a stale procedure.
const char* window_class() {
  static char name[64];
  static std::once_flag once;
  std::call_once(once, [] {
    std::snprintf(name, sizeof name, "QorWindow_%p", reinterpret_cast<void*>(&window_proc));
    WNDCLASSA wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = this_module();
    wc.lpszClassName = name;
    RegisterClassA(&wc);
  });
  return name;
}

HWND as_hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

std::optional<std::uint32_t> send(HWND hwnd, UINT id, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, id, wparam, lparam, SMTO_NORMAL, send_no_limit, &result)) return std::nullopt;
  return static_cast<std::uint32_t>(result);
}

}  // namespace

WindowHandle create_window(const std::string& title, WindowHandler handler, std::vector<std::uint32_t> data_messages) {
  const char* cls = window_class();
  auto* ref = new DataRef(std::make_shared<WindowData>(WindowData{std::move(handler), data_messages}));
  CreateParams params{ref, false};
  HWND hwnd = CreateWindowExA(0, cls, title.c_str(), WS_POPUP | WS_DISABLED, 10, 10, 10, 10, nullptr, nullptr,
                              this_module(), &params);
  if (!hwnd) {
    // After WM_NCCREATE the failed creation's WM_NCDESTROY has freed it.
    if (!params.attached) delete ref;
    return no_window;
  }
  for (std::uint32_t number : data_messages) SetPropA(hwnd, data_property(number).c_str(), reinterpret_cast<HANDLE>(1));
  return reinterpret_cast<WindowHandle>(hwnd);
}

bool destroy_window(WindowHandle window) {
  if (!IsWindow(as_hwnd(window)) || GetWindowThreadProcessId(as_hwnd(window), nullptr) != GetCurrentThreadId())
    return false;
  return DestroyWindow(as_hwnd(window)) != 0;
}

bool is_window(WindowHandle window) { return window != no_window && IsWindow(as_hwnd(window)); }

WindowHandle find_window(const std::string& title) {
  return reinterpret_cast<WindowHandle>(FindWindowA(nullptr, title.c_str()));
}

WindowHandle window_parent(WindowHandle window) { return reinterpret_cast<WindowHandle>(GetParent(as_hwnd(window))); }

WindowHandle desktop_window() { return reinterpret_cast<WindowHandle>(GetDesktopWindow()); }

std::uint32_t window_process_id(WindowHandle window) {
  DWORD pid = 0;
  if (window == no_window || !GetWindowThreadProcessId(as_hwnd(window), &pid)) return 0;
  return pid;
}

ThreadId window_thread_id(WindowHandle window) {
  return window == no_window ? 0 : GetWindowThreadProcessId(as_hwnd(window), nullptr);
}

bool post_message(WindowHandle window, std::uint32_t id, std::uint32_t wparam, std::uint32_t lparam) {
  if (id == WM_COPYDATA || window == no_window) return false;
  return PostMessageA(as_hwnd(window), id, wparam, static_cast<LPARAM>(lparam)) != 0;
}

std::optional<std::uint32_t> send_message(WindowHandle window, std::uint32_t id, std::uint32_t wparam,
                                          std::uint32_t lparam) {
  if (id == WM_COPYDATA || window == no_window) return std::nullopt;
  return send(as_hwnd(window), id, wparam, static_cast<LPARAM>(lparam));
}

std::optional<std::uint32_t> send_data(WindowHandle window, std::uint32_t id, std::uint32_t wparam, std::uint32_t tag,
                                       const void* data, std::uint32_t size) {
  if (window == no_window || (size > 0 && !data)) return std::nullopt;
  HWND hwnd = as_hwnd(window);
  if (id != WM_COPYDATA) {
    // The descriptor is an address: only a window of this process that
    // expects it may read it.
    if (window_process_id(window) != GetCurrentProcessId() || !GetPropA(hwnd, data_property(id).c_str()))
      return std::nullopt;
  }
  COPYDATASTRUCT block;
  block.dwData = tag;
  block.cbData = size;
  block.lpData = const_cast<void*>(data);
  return send(hwnd, id, wparam, reinterpret_cast<LPARAM>(&block));
}

bool set_timer(WindowHandle window, std::uint32_t timer_id, std::uint32_t period_ms) {
  if (window == no_window || GetWindowThreadProcessId(as_hwnd(window), nullptr) != GetCurrentThreadId()) return false;
  return SetTimer(as_hwnd(window), timer_id, period_ms, nullptr) != 0;
}

bool kill_timer(WindowHandle window, std::uint32_t timer_id) {
  return window != no_window && KillTimer(as_hwnd(window), timer_id) != 0;
}

std::uint32_t dispatch_message(const Message& message) {
  HWND hwnd = as_hwnd(message.window);
  if (!hwnd || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) return 0;
  MSG msg{};
  msg.hwnd = hwnd;
  msg.message = message.id;
  msg.wParam = message.wparam;
  // A WM_TIMER lParam would be called as a timer procedure; ours have none.
  msg.lParam = message.id == WM_TIMER ? 0 : static_cast<LPARAM>(message.lparam);
  return static_cast<std::uint32_t>(DispatchMessageA(&msg));
}

}  // namespace qor::platform
