// Lifecycle of the plug-in: Pipe_Init, Pipe_Tini, Pipe_Idle, and the hidden
// window that marks an instance as taken on the whole machine.
#include "pipehost/plugin.h"

#include <algorithm>

#include "link/blocks.h"
#include "link/protocol.h"
#include "pipehost/cdispatcher.h"
#include "pipehost/named_pipe_command.h"
#include "pipehost/plugin_state.h"
#include "pipehost/text_number.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/thread_queue.h"
#include "platform/window.h"

namespace qor::pipehost {

namespace {

constexpr std::size_t instance_name_capacity = 63;
constexpr std::uint32_t window_timer_id = 18;
constexpr std::uint32_t window_timer_ms = 50;

platform::HandlerResult handle_window_message(platform::WindowHandle, const platform::WindowMessage& message) {
  PluginState& state = plugin_state();
  switch (message.id) {
    case platform::msg_copydata:
      if (message.size == link::request_block_size)
        return HandleRequestBlock(state, message.wparam, message.data, message.size);
      if (message.size == link::data_block_size) return HandleDataBlock(state, message.data, message.size);
      return 0u;  // a block of any other size is ignored
    case link::MSG_REQUEST_BLOCK:
      // The private form names its block by address; the descriptor's size
      // is not trusted beyond what a request block needs.
      if (message.size < link::request_block_size) return 0u;
      return HandleRequestBlock(state, message.wparam, message.data, link::request_block_size);
    case link::MSG_DATA_BLOCK:
      if (message.size != link::data_block_size) return 0u;
      return HandleDataBlock(state, message.data, message.size);
    default:
      return std::nullopt;  // timer ticks and everything else: default processing
  }
}

void EnsureAnswerEndpoint(PluginState& state) {
  if (state.endpoints.empty()) {
    try {
      state.endpoints.push_back(std::make_unique<CNamedPipeCommand>(state.instanceName));
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  LoadDispatchers(state, true);
}

void set_instance(PluginState& state, const std::string& name) {
  state.instanceName = name;
  state.configPath = ".\\" + name + ".ini";
}

void close_windows(PluginState& state) {
  std::vector<platform::WindowHandle> windows = state.retiredWindows;
  if (state.window) windows.push_back(state.window);
  for (platform::WindowHandle window : windows) {
    // On the owner thread the window goes at once; from any other thread
    // (a library unload) it is asked to close.
    if (!platform::destroy_window(window)) platform::post_message(window, platform::msg_close, 0, 0);
  }
  state.retiredWindows.clear();
  state.window = platform::no_window;
}

}  // namespace

bool InstanceHeldElsewhere(const PluginState& state) {
  platform::WindowHandle found = platform::find_window(state.instanceName);
  return found && platform::window_process_id(found) != platform::current_process_id();
}

std::int32_t EnsureWindow(PluginState& state) {
  if (platform::find_window(state.instanceName)) return 1;
  // A window left under an earlier name (re-targeting) is kept until the end.
  if (state.window) state.retiredWindows.push_back(state.window);
  state.window = platform::create_window(state.instanceName, handle_window_message,
                                         {link::MSG_REQUEST_BLOCK, link::MSG_DATA_BLOCK});
  if (!state.window) {
    EnsureAnswerEndpoint(state);
    return 0;
  }
  platform::set_timer(state.window, window_timer_id, window_timer_ms);
  EnsureAnswerEndpoint(state);
  return 1;
}

std::int32_t PipeInit(PluginState& state, const char* name_text) {
  std::string name = name_text ? name_text : "";
  // Longer names do not fit the instance name; they are cut, as a fixed
  // buffer of that size would hold them.
  if (name.size() > instance_name_capacity) name.resize(instance_name_capacity);
  if (!name.empty()) {
    if (platform::find_window(state.instanceName)) {
      // Re-target the running plug-in: the data endpoints stop, the entries
      // empty, and the section is loaded again beside them.
      set_instance(state, name);
      EndpointGlobals& globals = endpoint_globals();
      for (auto& endpoint : state.endpoints) {
        if (endpoint.get() == globals.answerEndpoint || endpoint.get() == globals.monitorEndpoint) continue;
        endpoint->stop_threads();
        endpoint->set_name("");
      }
      for (auto& entry : state.dispatchers) entry->clear_texts();
      LoadDispatchers(state, false);
      return 1;
    }
    set_instance(state, name);
    const std::string& file = state.configPath;
    state.terminalHeader =
        parse_flag(platform::read_profile_string(file, "Global Parameters", "RxData TermHeader", "", 256));
    state.typeHeader = parse_flag(platform::read_profile_string(file, "Global Parameters", "RxData TypeHeader", "", 256));
    state.hostId = leading_int(platform::read_profile_string(file, "Global Parameters", "Host ID", "99", 256));
    if (!state.endpoints.empty()) {
      LoadDispatchers(state, true);
      return 1;
    }
    PipeTini(state);
    set_answer_pipe_name(name);
    set_instance(state, name);
  }
  return EnsureWindow(state);
}

std::int32_t PipeTini(PluginState& state) {
  if (state.window || !state.retiredWindows.empty()) {
    close_windows(state);
    platform::sleep_ms(150);
  }
  for (auto& entry : state.dispatchers) entry.reset();
  state.dispatchers.clear();
  for (auto& endpoint : state.endpoints) endpoint.reset();
  state.endpoints.clear();
  platform::sleep_ms(150);
  return 0;
}

std::int32_t PipeIdle(std::uint32_t milliseconds) {
  // The link server calls this between polls on the window's thread: serve
  // what hosts sent to the window meanwhile (on Windows the link server's
  // own message loop does it; serving here changes nothing there).
  platform::serve_sent_messages();
  if (milliseconds) platform::sleep_ms(milliseconds);
  return 0;
}

}  // namespace qor::pipehost
