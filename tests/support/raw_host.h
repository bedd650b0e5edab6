#pragma once
// Raw host clients for tests that drive PipeHost from outside: a pipe client
// and a window-transport client that know only the bytes of the protocol,
// and PipeHost loaded by name with its exports bound by name, as a link
// server does it. Header only: used by tests and by helper programs.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/blocks.h"
#include "link/chunks.h"
#include "link/names.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/named_pipe.h"
#include "platform/thread_queue.h"
#include "platform/window.h"
#include "qor/pipehost.h"

namespace qor::test {

// The longest a test waits for something that must come.
constexpr std::uint32_t generous_ms = 15000;
// A short look for a reply that must not come.
constexpr std::uint32_t no_reply_ms = 200;

inline const std::string ENQ(1, link::ENQ), ACK(1, link::ACK), NAK(1, link::NAK), SYN(1, link::SYN);

// Bytes as a readable text: control bytes as <n>; "<nothing>" for none.
inline std::string shown(const std::optional<std::string>& bytes) {
  if (!bytes) return "<nothing>";
  std::string out;
  for (unsigned char c : *bytes) out += c < 0x20 ? "<" + std::to_string(c) + ">" : std::string(1, static_cast<char>(c));
  return out;
}

// Waits until `done` holds, at most `ms`; whether it did.
template <typename Done>
bool eventually(Done done, std::uint32_t ms = generous_ms) {
  std::uint32_t start = platform::tick_ms();
  while (!done()) {
    if (platform::tick_ms() - start > ms) return false;
    platform::sleep_ms(5);
  }
  return true;
}

// Opens "\\.\PIPE\<name>"; with `wait_ms`, retries while no instance listens.
inline std::unique_ptr<platform::PipeClient> open_pipe(const std::string& name, std::uint32_t wait_ms = 0) {
  std::unique_ptr<platform::PipeClient> client;
  eventually([&] { return (client = platform::PipeClient::open(link::pipe_path(".", name))) != nullptr; }, wait_ms);
  return client;
}

inline bool send(platform::PipeClient& client, const std::string& bytes) {
  return client.write_message(bytes.data(), bytes.size());
}

// What arrives on the client within `wait_ms`; nothing when no bytes come or
// the pipe broke.
inline std::optional<std::string> receive(platform::PipeClient& client, std::uint32_t wait_ms = generous_ms) {
  std::uint32_t start = platform::tick_ms();
  for (;;) {
    auto waiting = client.peek();
    if (!waiting) return std::nullopt;
    if (waiting->total > 0) break;
    if (platform::tick_ms() - start > wait_ms) return std::nullopt;
    platform::sleep_ms(1);
  }
  std::vector<char> buffer(link::message_buffer_size);
  auto n = client.read(buffer.data(), buffer.size());
  if (!n) return std::nullopt;
  return std::string(buffer.data(), *n);
}

// One request on a fresh connection to the pipe `name` (opened within
// `open_ms`): the reply as shown(), "<no pipe>" when it cannot be opened.
inline std::string exchange(const std::string& name, const std::string& message, std::uint32_t open_ms = 3000) {
  auto client = open_pipe(name, open_ms);
  if (!client) return "<no pipe>";
  if (!send(*client, message)) return "<write failed>";
  return shown(receive(*client));
}

// Polls a data pipe once as a host does: ENQ, the message, then ACK as the
// receipt. The message as shown(); "<nothing>" when none came in `wait_ms`.
inline std::string poll_data_pipe(platform::PipeClient& client, std::uint32_t wait_ms = generous_ms) {
  if (!send(client, ENQ)) return "<write failed>";
  auto message = receive(client, wait_ms);
  if (message) send(client, ACK);
  return shown(message);
}

// The window transport from the calling thread, which gets a queue: request
// and data blocks sent to a window, verdicts and chunks posted back.
class WindowHost {
 public:
  WindowHost() { platform::create_thread_queue(); }

  // The result of the copy-data send; nothing when the window did not take it.
  std::optional<std::uint32_t> request(platform::WindowHandle window, const std::string& name,
                                       const std::string& text) {
    link::RequestBytes bytes;
    if (!link::encode_request_block({name, text}, bytes)) return std::nullopt;
    return platform::send_data(window, platform::msg_copydata, platform::current_thread_id(), 0, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()));
  }

  std::optional<std::uint32_t> data(platform::WindowHandle window, std::int32_t terminal, const std::string& type,
                                    const std::string& text) {
    link::DataBytes bytes;
    if (!link::encode_data_block({terminal, type, text}, bytes)) return std::nullopt;
    return platform::send_data(window, platform::msg_copydata, 0, 0, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()));
  }

  // The next verdict posted to this thread within `wait_ms` ("ACK", "NACK",
  // "REJECT", ... or "<nothing>"); chunks before it go to `text`. `serve`
  // runs while waiting (for a window of this thread: the plug-in's poll).
  template <typename Serve>
  std::string verdict(std::string* text, Serve serve, std::uint32_t wait_ms = generous_ms) {
    platform::Message message;
    std::uint32_t start = platform::tick_ms();
    while (platform::tick_ms() - start < wait_ms) {
      if (!platform::peek_message(message, true)) {
        serve();
        platform::sleep_ms(1);
        continue;
      }
      if (message.id == link::MSG_DATA_CHUNK && text) link::append_chunk(*text, {message.wparam, message.lparam});
      link::Verdict verdict;
      if (link::verdict_of_message(message.id, verdict)) return link::verdict_text(verdict);
    }
    return "<nothing>";
  }
  std::string verdict(std::string* text = nullptr, std::uint32_t wait_ms = generous_ms) {
    return verdict(text, [] {}, wait_ms);
  }
};

// PipeHost loaded by name, its exports bound by name.
struct PipeHostModule {
  platform::ModuleHandle module = nullptr;
  decltype(&Pipe_Init) init = nullptr;
  decltype(&Pipe_Tini) tini = nullptr;
  decltype(&Pipe_Idle) idle = nullptr;
  decltype(&Pipe_WaitData) wait_data = nullptr;
  decltype(&Pipe_Ack) ack = nullptr;
  decltype(&Pipe_Nack) nack = nullptr;
  decltype(&Pipe_Reject) reject = nullptr;
  decltype(&Pipe_WriteData) write_data = nullptr;

  // False when the library or one of its exports is missing.
  bool load() {
    module = platform::load_module("PipeHost.dll");
    return module && bind(init, "Pipe_Init") && bind(tini, "Pipe_Tini") && bind(idle, "Pipe_Idle") &&
           bind(wait_data, "Pipe_WaitData") && bind(ack, "Pipe_Ack") && bind(nack, "Pipe_Nack") &&
           bind(reject, "Pipe_Reject") && bind(write_data, "Pipe_WriteData");
  }
  void unload() {
    platform::unload_module(module);
    module = nullptr;
  }

  // One poll as a link server makes it: a request handed over gets `verdict`.
  // The result of Pipe_WaitData.
  std::int32_t poll(decltype(&Pipe_Ack) verdict = nullptr) {
    void* handle = nullptr;
    std::int32_t terminal = 0;
    char buffer[1024];
    std::int32_t n = wait_data(&handle, &terminal, 0, buffer, sizeof buffer);
    if (n > 0) (verdict ? verdict : ack)(&handle);
    return n;
  }

 private:
  template <typename Fn>
  bool bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::find_symbol(module, name));
    return fn != nullptr;
  }
};

}  // namespace qor::test
