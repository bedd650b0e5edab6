#include "link/cqornet_pipe.h"

#include <algorithm>
#include <cstring>

#include "link/connection_texts.h"
#include "link/names.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/named_pipe.h"

namespace qor::link {

struct CQORNetPipe::DataPipe {
  std::string name;
  std::unique_ptr<platform::PipeClient> client;
  int busy = 0;         // readers in progress, under lock_
  bool closed = false;  // taken off the list, under lock_
};

namespace {

constexpr int request_wait_ms = 400;
constexpr std::uint32_t poll_ms = 10;

bool passed(std::uint32_t start, std::uint32_t wait_ms) { return platform::tick_ms() - start >= wait_ms; }

// How many bytes the next read may take: the rest of the current message,
// so that two messages waiting at once are never read as one.
std::size_t next_read_size(const platform::PipeWaiting& waiting) {
  std::size_t size = waiting.in_message ? waiting.in_message : waiting.total;
  return std::min(size, max_message_length);
}

}  // namespace

CQORNetPipe::CQORNetPipe() = default;

CQORNetPipe::CQORNetPipe(const std::string& machine) {
  if (!machine.empty()) machine_ = machine;
}

CQORNetPipe::~CQORNetPipe() {
  answer_pipe_.reset();
  {
    std::lock_guard<std::mutex> hold(lock_);
    data_pipes_.clear();
  }
  platform::sleep_ms(1000);
}

int CQORNetPipe::OpenPipe(const std::string& name) { return Send("OpenPipe|" + name, request_wait_ms); }
int CQORNetPipe::ClosePipe(const std::string& name) { return Send("ClosePipe|" + name, request_wait_ms); }
int CQORNetPipe::CreatePipe(const std::string& name) { return Send("CreatePipe|" + name, request_wait_ms); }
int CQORNetPipe::DestroyPipe(const std::string& name) { return Send("DestroyPipe|" + name, request_wait_ms); }
int CQORNetPipe::CheckRivo63(const std::string& name) { return Send("CheckRivo63|" + name, request_wait_ms); }

int CQORNetPipe::CheckTerminal(int terminal) {
  return Send("CheckTerminal|" + std::to_string(terminal), check_terminal_wait_ms) == 1 ? 1 : not_in_database;
}

void CQORNetPipe::close_answer_pipe() {
  connected_ = 0;
  answer_pipe_.reset();
}

int CQORNetPipe::Send(const std::string& text, int wait_ms) {
  std::lock_guard<std::mutex> one_request(answer_lock_);
  if (!answer_pipe_) {
    connected_ = 0;
    answer_pipe_ = platform::PipeClient::open(pipe_path(machine_, selected_answer_pipe()));
    if (!answer_pipe_) return 0;
    connected_ = 1;
    platform::sleep_ms(poll_ms);
  }
  if (text.empty()) return 0;
  if (wait_ms < 0) wait_ms = 0;
  std::string message = wait_ms > 0 ? std::string(1, SYN) + text : text;
  if (message.size() > max_message_length) return 0;  // no reader could take it whole

  if (!answer_pipe_->peek()) {
    close_answer_pipe();
    return 0;
  }
  if (!answer_pipe_->write_message(message.data(), message.size())) {
    close_answer_pipe();
    return 0;
  }

  std::size_t size = message_buffer_size;
  if (wait_ms > 0) {
    std::uint32_t wait = static_cast<std::uint32_t>(std::max(wait_ms, min_verdict_wait_ms));
    std::uint32_t start = platform::tick_ms();
    std::optional<platform::PipeWaiting> waiting;
    do {
      platform::sleep_ms(poll_ms);
      waiting = answer_pipe_->peek();
      if (!waiting) {
        close_answer_pipe();
        return 0;
      }
    } while (waiting->total == 0 && !passed(start, wait));
    if (waiting->total == 0) {
      // The verdict may still come. Left in the pipe it would be read as the
      // reply to the next request, so this connection is given up; the
      // server was reached all the same.
      answer_pipe_.reset();
      return 0;
    }
    size = next_read_size(*waiting);
  }
  char reply[message_buffer_size];
  std::optional<std::size_t> got = answer_pipe_->read(reply, size);
  if (!got || *got == 0) {
    close_answer_pipe();
    return 0;
  }
  if (reply[0] == ACK) return 1;
  return *got >= 2 && reply[0] == SYN && reply[1] == ACK ? 1 : 0;
}

std::shared_ptr<CQORNetPipe::DataPipe> CQORNetPipe::find_data_pipe(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& pipe : data_pipes_)
    if (pipe->name == name) return pipe;
  return nullptr;
}

std::shared_ptr<CQORNetPipe::DataPipe> CQORNetPipe::open_data_pipe(const std::string& name) {
  auto client = platform::PipeClient::open(pipe_path(machine_, name));
  if (!client) return nullptr;
  auto pipe = std::make_shared<DataPipe>();
  pipe->name = name;
  pipe->client = std::move(client);
  std::lock_guard<std::mutex> hold(lock_);
  data_pipes_.push_back(pipe);
  return pipe;
}

// Waits until no other thread reads the pipe, then counts this reader in,
// in one step under the lock. False when the wait ran out or the pipe was
// closed meanwhile.
bool CQORNetPipe::claim(DataPipe& pipe, std::uint32_t start, std::uint32_t wait_ms) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (pipe.closed) return false;
      if (pipe.busy == 0) {
        pipe.busy = 1;
        return true;
      }
    }
    if (passed(start, wait_ms)) return false;
    platform::sleep_ms(poll_ms);
  }
}

void CQORNetPipe::release(DataPipe& pipe) {
  std::lock_guard<std::mutex> hold(lock_);
  pipe.busy -= 1;
}

// Takes a failed pipe off the list while its reader still holds it, so no
// waiting reader can start on it; the handle closes with the last holder.
void CQORNetPipe::close_data_pipe(const std::shared_ptr<DataPipe>& pipe) {
  connected_ = 0;
  std::lock_guard<std::mutex> hold(lock_);
  pipe->closed = true;
  pipe->busy = 0;
  data_pipes_.erase(std::remove(data_pipes_.begin(), data_pipes_.end(), pipe), data_pipes_.end());
}

std::string CQORNetPipe::Receive(const std::string& name, int wait_ms) {
  std::shared_ptr<DataPipe> pipe = find_data_pipe(name);
  if (!pipe) {
    pipe = open_data_pipe(name);
    if (!pipe) {
      connected_ = 0;
      return {};
    }
    connected_ = 1;
  }
  if (wait_ms < 0) wait_ms = default_receive_wait_ms;
  // A wait of 0 has no limit: the poll goes on until a message comes.
  bool no_limit = wait_ms == 0;
  std::uint32_t start = platform::tick_ms();
  std::uint32_t wait = static_cast<std::uint32_t>(wait_ms);

  if (!claim(*pipe, start, wait)) return {};
  connected_ = 0;
  std::optional<std::string> text = poll_and_take(pipe, start, wait, no_limit);
  if (!text) return {};  // failed: the pipe is closed, its claim gone with it
  release(*pipe);
  return *text;
}

// With the pipe claimed: polls with ENQ until a message waits or the wait
// has passed, reads it and confirms it with ACK: the text, "" when none
// came. On a pipe failure the pipe is closed and nothing returned.
std::optional<std::string> CQORNetPipe::poll_and_take(const std::shared_ptr<DataPipe>& pipe, std::uint32_t start,
                                                      std::uint32_t wait_ms, bool no_limit) {
  auto fail = [&]() -> std::optional<std::string> {
    close_data_pipe(pipe);
    return std::nullopt;
  };
  platform::PipeClient& client = *pipe->client;
  const char enq = ENQ;

  std::optional<platform::PipeWaiting> waiting = client.peek();
  if (!waiting) return fail();
  if (waiting->total == 0) {
    if (!client.write_message(&enq, 1)) return fail();
    connected_ = 1;
    for (;;) {
      if (!no_limit && passed(start, wait_ms)) {
        waiting = client.peek();
        if (!waiting) return fail();
        if (waiting->total == 0) return std::string();
        break;
      }
      platform::sleep_ms(poll_ms);
      waiting = client.peek();
      if (!waiting) return fail();
      if (waiting->total > 0) break;
      if (!client.write_message(&enq, 1)) return fail();
    }
  }
  connected_ = 1;
  char buffer[message_buffer_size];
  std::optional<std::size_t> got = client.read(buffer, next_read_size(*waiting));
  if (!got) return fail();
  const char ack = ACK;
  client.write_message(&ack, 1);  // the receipt; its outcome does not matter
  return std::string(buffer, strnlen(buffer, *got));  // a text: it ends at a NUL
}

}  // namespace qor::link
