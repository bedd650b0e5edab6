// Host requests: Pipe_WaitData hands them to the link server or settles them
// here; the verdict exports send the link server's answer back; the window
// transport's request blocks join the same queue.
#include <cstring>
#include <memory>
#include <new>

#include "link/blocks.h"
#include "link/names.h"
#include "link/protocol.h"
#include "pipehost/cdispatcher.h"
#include "pipehost/named_pipe_command.h"
#include "pipehost/plugin.h"
#include "pipehost/plugin_state.h"
#include "pipehost/request_text.h"
#include "platform/clock.h"
#include "platform/thread_queue.h"

namespace qor::pipehost {

namespace {

// Copies at most `size` bytes of `text`: a text of `size` bytes or more is
// cut with no NUL. The result is the text's full length.
std::int32_t hand_over(const std::string& text, char* buffer, std::int32_t size) {
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size));
  std::memcpy(buffer, text.data(), n);
  return static_cast<std::int32_t>(text.size());
}

void post_verdict(platform::ThreadId thread, link::Verdict verdict) {
  platform::post_thread_message(thread, link::verdict_message(verdict), 0, 0);
}

bool monitor_accepts(const std::string& commands) {
  CNamedPipeCommand* monitor = endpoint_globals().monitorEndpoint;
  return monitor && monitor->ApplyMonitorCommands(commands);
}

link::Verdict verdict_of(bool accepted) { return accepted ? link::Verdict::ack : link::Verdict::nak; }

}  // namespace

std::int32_t PipeWaitData(PluginState& state, void** handle, std::int32_t* terminal, std::int32_t reserved,
                          char* buffer, std::int32_t size) {
  // Gives the thread a queue and serves what hosts sent to the window.
  platform::serve_sent_messages();
  platform::sleep_ms(5);
  if (!handle || !terminal || !buffer || reserved < 0 || size < 0) return -5;
  *terminal = 0;
  std::memset(buffer, 0, static_cast<std::size_t>(size));
  *handle = nullptr;

  if (InstanceHeldElsewhere(state) && !state.window) return -11;
  EnsureWindow(state);
  CNamedPipeCommand* answer = endpoint_globals().answerEndpoint;
  if (!answer) return -11;

  std::unique_ptr<CTcpipMessage> request = answer->TakeRequest();
  if (!request) {
    platform::sleep_ms(5);
    return 0;
  }

  std::string command;
  if (request->number == 0) {
    ParsedRequest parsed = parse_request_text(request->text, state.hostId, state.instanceName);
    if (parsed.dropped) return 0;  // released without a verdict
    request->number = parsed.number;
    request->text = parsed.text;
    command = parsed.command;
  }

  if (command == "QORNetMonitor") {
    GiveVerdict(*request, verdict_of(monitor_accepts(request->text)));
    return 0;
  }
  if (command == "CheckRivo63") {
    GiveVerdict(*request, verdict_of(state.window != platform::no_window));
    return 0;
  }
  if (command == "OpenPipe" || command == "ClosePipe") {
    std::string pipe = pipe_argument(request->text);
    bool done = command == "OpenPipe" ? OpenDataPipe(state, pipe) : CloseDataPipe(state, pipe);
    GiveVerdict(*request, verdict_of(done));
    return 0;
  }
  std::string text = command == "CheckTerminal" ? check_terminal_text(request->text) : request->text;
  if (text.empty()) {
    // A result of 0 says "nothing handed over": a request with an empty text
    // cannot be handed over, so it is answered here instead of being lost.
    GiveVerdict(*request, link::Verdict::nak);
    return 0;
  }
  *terminal = command == "CheckTerminal" ? state.hostId : request->number;
  std::int32_t length = hand_over(text, buffer, size);
  request->text = text;
  *handle = request.release();  // the link server holds it until its verdict
  return length;
}

std::int32_t PipeVerdict(void** handle, std::uint8_t verdict_byte) {
  if (!handle || !*handle) return -5;
  std::unique_ptr<CTcpipMessage> request(static_cast<CTcpipMessage*>(*handle));
  *handle = nullptr;
  link::Verdict verdict = link::Verdict::nak;
  link::verdict_of_byte(verdict_byte, verdict);
  GiveVerdict(*request, verdict);
  return 1;
}

std::uint32_t HandleRequestBlock(PluginState& state, std::uint32_t client_thread, const void* bytes,
                                 std::uint32_t size) {
  link::RequestBlock block;
  if (client_thread == 0 || !link::decode_request_block(bytes, size, block)) return 0;
  CNamedPipeCommand* answer = endpoint_globals().answerEndpoint;

  if (block.name.empty()) {
    // A raw request text, as on the answer pipe.
    if (!answer || block.text.empty()) {
      post_verdict(client_thread, link::Verdict::nak);
      return 1;
    }
    bool wants_verdict = block.text[0] == link::SYN;
    std::unique_ptr<CTcpipMessage> request;
    try {
      request = std::make_unique<CTcpipMessage>(wants_verdict ? block.text.substr(1) : block.text);
    } catch (const std::bad_alloc&) {
      post_verdict(client_thread, link::Verdict::nak);
      return 1;
    }
    if (wants_verdict) request->notifyThreadId = client_thread;
    if (!answer->PostRequest(std::move(request)))
      post_verdict(client_thread, link::Verdict::nak);
    else if (!wants_verdict)
      post_verdict(client_thread, link::Verdict::ack);
    return 1;
  }

  // A command word naming its argument.
  const std::string& word = block.text;
  if (link::equals_ignoring_case(word, "QORNetMonitor")) {
    post_verdict(client_thread, verdict_of(monitor_accepts(block.name)));
  } else if (link::equals_ignoring_case(word, "OpenPipe")) {
    post_verdict(client_thread, verdict_of(OpenDataPipe(state, block.name)));
  } else if (link::equals_ignoring_case(word, "ClosePipe")) {
    post_verdict(client_thread, verdict_of(CloseDataPipe(state, block.name)));
  } else if (link::equals_ignoring_case(word, "CheckTerminal")) {
    bool queued = false;
    if (answer) {
      try {
        auto request = std::make_unique<CTcpipMessage>("CT|" + block.name, state.hostId);
        request->notifyThreadId = client_thread;
        queued = answer->PostRequest(std::move(request));
      } catch (const std::bad_alloc&) {
      }
    }
    if (!queued) post_verdict(client_thread, link::Verdict::nak);
  } else if (link::equals_ignoring_case(word, "CheckRivo63")) {
    post_verdict(client_thread, link::Verdict::ack);
  } else {
    HandleReadRequest(state, client_thread, block.name);
  }
  return 1;
}

}  // namespace qor::pipehost
