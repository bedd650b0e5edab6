#pragma once
// Hidden top-level windows: found system-wide by title, they receive
// messages posted to them, synchronous messages sent to them (with a copied
// data block), and timer ticks, all handled on the thread that created them
// while that thread runs its pump (thread_queue.h).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/message.h"

namespace qor::platform {

// A message as a window handler sees it.
struct WindowMessage {
  std::uint32_t id = 0;
  std::uint32_t wparam = 0;
  // For a data message: the block's 32-bit tag (the copy-data dwData).
  std::uint32_t lparam = 0;
  // A data message carries a block: valid only during the handler call.
  bool has_data = false;
  const void* data = nullptr;
  std::uint32_t size = 0;
};

// A handler's answer: a result, or std::nullopt for the default processing
// (msg_close then destroys the window; everything else yields 0).
using HandlerResult = std::optional<std::uint32_t>;
using WindowHandler = std::function<HandlerResult(WindowHandle window, const WindowMessage& message)>;

// The handler sees msg_close, msg_quit, msg_copydata, msg_timer and every
// number from 0x0400 up; other system numbers get the default processing.
//
// Creates a hidden top-level window with this title, owned by the calling
// thread (which gets its queue). `data_messages` are private numbers that,
// like msg_copydata, carry a data block when sent with send_data from this
// process. no_window when the window cannot be made.
WindowHandle create_window(const std::string& title, WindowHandler handler,
                           std::vector<std::uint32_t> data_messages = {});

// Destroys a window of the calling thread. Messages still queued for it are
// dropped and later sends to it fail. False for any other window.
bool destroy_window(WindowHandle window);

// True while the window exists (in any process).
bool is_window(WindowHandle window);

// A top-level window of any process whose title equals `title` without
// regard to case, or no_window.
WindowHandle find_window(const std::string& title);

// The parent of a window; no_window for a top-level window of ours, whose
// root is itself.
WindowHandle window_parent(WindowHandle window);

// The desktop window, parent of all top-level windows; never one of ours.
WindowHandle desktop_window();

// The process and the thread that own a window; 0 when there is no window.
std::uint32_t window_process_id(WindowHandle window);
ThreadId window_thread_id(WindowHandle window);

// Posts a message to the queue of the window's owner thread; its pump hands
// it to dispatch_message. msg_copydata cannot be posted. False when the
// window does not exist.
bool post_message(WindowHandle window, std::uint32_t id, std::uint32_t wparam, std::uint32_t lparam);

// Sends a message and waits without limit until the owner thread has
// handled it in its pump (from the owner thread itself the handler is called
// at once). The result is the handler's; std::nullopt when the window does
// not exist or goes away (its owner thread or process ends) before
// answering. The calling thread's own windows are served while it waits.
std::optional<std::uint32_t> send_message(WindowHandle window, std::uint32_t id, std::uint32_t wparam,
                                          std::uint32_t lparam);

// Sends a data message: msg_copydata to a window of any process, or one of
// the window's `data_messages` to a window of this process. The handler sees
// wparam, the tag as lparam and a copy of the `size` bytes at `data`. Waits
// and fails as send_message; also fails for other numbers, and for private
// numbers sent to another process.
std::optional<std::uint32_t> send_data(WindowHandle window, std::uint32_t id, std::uint32_t wparam, std::uint32_t tag,
                                       const void* data, std::uint32_t size);

// Starts (or restarts) a timer of the calling thread's window: the pump
// yields msg_timer with wparam = timer_id to the window about every
// `period_ms` (at least 10 ms) while the thread pumps. Ticks do not pile up.
bool set_timer(WindowHandle window, std::uint32_t timer_id, std::uint32_t period_ms);
bool kill_timer(WindowHandle window, std::uint32_t timer_id);

// Hands a message taken from the queue to its window's handler and returns
// the result; 0 for a thread message or a window of another thread.
std::uint32_t dispatch_message(const Message& message);

}  // namespace qor::platform
