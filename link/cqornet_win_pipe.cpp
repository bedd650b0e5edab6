#include "link/cqornet_win_pipe.h"

#include "link/blocks.h"
#include "link/connection_texts.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/window.h"

namespace qor::link {
namespace {

constexpr std::uint32_t poll_ms = 10;

// A whole message waiting in the reply record, taken out of it. The text is
// whole once its ACK has been handled; a NAK handled after that ACK (the
// answer to a read request sent before the message was seen) may already
// have replaced the state, but not the text. An ACK without text is a
// request's verdict nobody cleared, not a message.
std::optional<std::string> take_whole_message(CQORNetWinThread& reply) {
  int state = reply.reply_state();
  if (state != reply_ack && state != reply_nak) return std::nullopt;
  std::string text = reply.received_text();
  if (text.empty()) return std::nullopt;
  reply.clear();
  return text;
}

const char* verdict_reply_text(int state) {
  switch (state) {
    case reply_ack: return "ACK";
    case reply_nak: return "NACK";
    case reply_busy: return "BUSY";
    case reply_reject: return "REJECT";
    case reply_timeout: return "TIMEOUT";
  }
  return nullptr;
}

}  // namespace

platform::WindowHandle root_window(platform::WindowHandle window) {
  platform::WindowHandle parent = platform::window_parent(window);
  if (parent == platform::desktop_window()) return window;
  while (parent != platform::no_window) {
    window = parent;
    parent = platform::window_parent(parent);
  }
  return window;
}

CQORNetWinPipe::~CQORNetWinPipe() {
  reply_thread_.reset();
  platform::sleep_ms(poll_ms);
}

CQORNetWinThread* CQORNetWinPipe::reply_thread() {
  std::lock_guard<std::mutex> hold(start_lock_);
  return reply_thread_.get();
}

int CQORNetWinPipe::request(const std::string& name, const char* word, int wait_ms) {
  Transact(name, word, wait_ms, false);
  CQORNetWinThread* reply = reply_thread();
  return reply && reply->reply_state() == reply_ack ? 1 : 0;
}

int CQORNetWinPipe::OpenPipe(const std::string& name) { return request(name, "OpenPipe", 1000); }
int CQORNetWinPipe::ClosePipe(const std::string& name) { return request(name, "ClosePipe", 400); }
int CQORNetWinPipe::CreatePipe(const std::string& name) { return request(name, "CreatePipe", 1000); }
int CQORNetWinPipe::DestroyPipe(const std::string& name) { return request(name, "DestroyPipe", 400); }

int CQORNetWinPipe::CheckRivo63(const std::string& name) {
  std::string answer = Transact(name, "CheckRivo63", 1000, false);
  CQORNetWinThread* reply = reply_thread();
  return answer == "ACK" || (reply && reply->reply_state() == reply_ack) ? 1 : 0;
}

int CQORNetWinPipe::CheckTerminal(int terminal) {
  return request(std::to_string(terminal), "CheckTerminal", check_terminal_wait_ms) == 1 ? 1 : not_in_database;
}

int CQORNetWinPipe::Send(const std::string& text, int wait_ms) {
  if (CQORNetWinThread* reply = reply_thread()) reply->clear();
  int result = Transact("", text, wait_ms, false) == "ACK" ? 1 : 0;
  if (CQORNetWinThread* reply = reply_thread()) reply->clear();
  return result;
}

std::string CQORNetWinPipe::Receive(const std::string& name, int wait_ms) {
  if (CQORNetWinThread* reply = reply_thread()) {
    // A message that came after an earlier Receive gave up.
    if (std::optional<std::string> late = take_whole_message(*reply)) return *late;
    if (reply->reply_state() == reply_nak) reply->clear();
  }
  return Transact(name, "", wait_ms, true);
}

std::string CQORNetWinPipe::Transact(const std::string& name, const std::string& text, int wait_ms, bool read_data) {
  CQORNetWinThread* started = nullptr;
  {
    std::lock_guard<std::mutex> once(start_lock_);
    if (!reply_thread_) {
      connected_ = 0;
      reply_thread_ = CQORNetWinThread::start();
      if (reply_thread_) platform::sleep_ms(poll_ms);
    }
    started = reply_thread_.get();
  }
  if (!started) return {};
  CQORNetWinThread& reply = *started;
  // A message that came in but was not yet taken keeps its state.
  if (reply.received_text_empty()) reply.set_reply_state(reply_none);

  connected_ = 1;
  platform::WindowHandle window = platform::find_window(selected_window_title());
  if (window == platform::no_window) {
    connected_ = 0;
    return {};
  }
  window = root_window(window);

  RequestBlock block;
  if (!name.empty()) {
    block.name = name;
    block.text = text;
  } else {
    block.text = wait_ms > 0 ? std::string(1, SYN) + text : text;
  }
  RequestBytes bytes;
  if (!encode_request_block(block, bytes)) return {};  // too long for a block

  if (wait_ms < 0) wait_ms = default_transact_wait_ms;
  std::uint32_t start = platform::tick_ms();
  std::uint32_t wait = static_cast<std::uint32_t>(wait_ms);
  auto hand_over = [&]() {
    platform::send_data(window, platform::msg_copydata, reply.id(), 0, bytes.data(),
                        static_cast<std::uint32_t>(bytes.size()));
  };
  hand_over();

  while (platform::tick_ms() - start < wait && reply.reply_state() != reply_ack) {
    platform::sleep_ms(poll_ms);
    int state = reply.reply_state();
    if (read_data) {
      if (state == reply_nak) {
        if (std::optional<std::string> message = take_whole_message(reply)) return *message;
        reply.clear();  // nothing pending yet: ask again
        hand_over();
      }
    } else if (const char* verdict = verdict_reply_text(state)) {
      return verdict;
    }
  }

  int state = reply.reply_state();
  if (state == reply_none) return read_data ? std::string() : std::string("TIMEOUT");
  if (state == reply_ack) {
    if (!read_data) return "ACK";
    std::string received = reply.received_text();
    reply.clear();
    return received;
  }
  if (state == reply_nak && !read_data) return "NACK";
  if (read_data) {
    if (std::optional<std::string> message = take_whole_message(reply)) return *message;
  }
  return {};
}

}  // namespace qor::link
