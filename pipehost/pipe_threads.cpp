#include "pipehost/pipe_threads.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "link/names.h"
#include "pipehost/named_pipe_command.h"
#include "platform/clock.h"

namespace qor::pipehost {

namespace {
constexpr unsigned char byte_of(char c) { return static_cast<unsigned char>(c); }
}  // namespace

CNamedPipeThread::CNamedPipeThread(CNamedPipeCommand& endpoint, std::string pipeName)
    : endpoint_(endpoint), pipeName_(std::move(pipeName)) {
  std::memset(buffer_, 0, sizeof buffer_);
}

CNamedPipeThread::~CNamedPipeThread() = default;

// --- life of a thread -----------------------------------------------------------

void CNamedPipeThread::Run() {
  for (;;) {
    std::uint64_t closedBefore;
    {
      std::lock_guard<std::mutex> hold(endpoint_.lock_);
      closedBefore = endpoint_.instancesClosed_;
    }
    std::unique_ptr<platform::PipeServer> pipe =
        platform::PipeServer::create(link::server_pipe_path(pipeName_), max_instances);
    std::lock_guard<std::mutex> hold(endpoint_.lock_);
    // Published only while the thread still runs: a stop that came first
    // found nothing to cancel, and the instance is dropped unused.
    if (!running()) break;
    if (pipe) {
      pipe_ = std::move(pipe);
      cancellable_ = pipe_.get();
      if (settled_) *settled_ = true;
      endpoint_.threadEnded_.notify_all();
      break;
    }
    // Every allowed instance existed. When one was closed meanwhile, its
    // thread took this one for the listener: try again.
    if (endpoint_.instancesClosed_ == closedBefore) break;
  }
  if (pipe_) ServeClient();
  EndPipeThread();
}

void CNamedPipeThread::ServeClient() {
  if (!pipe_->wait_for_client() || !running()) return;
  // The pipe name keeps one listening instance while this one serves.
  std::unique_ptr<CNamedPipeThread> successor;
  std::shared_ptr<bool> settled;
  try {
    successor = MakeSuccessor();
    settled = std::make_shared<bool>(false);
    successor->settled_ = settled;
  } catch (const std::bad_alloc&) {
  }
  CNamedPipeCommand::ThreadList ended;
  {
    std::unique_lock<std::mutex> hold(endpoint_.lock_);
    serving_ = true;
    CNamedPipeThread* next = successor.get();
    endpoint_.start_thread_locked(std::move(successor));
    bool started = next && !endpoint_.threads_.empty() && endpoint_.threads_.back().get() == next;
    endpoint_.take_ended_locked(ended);
    // Served only once the successor listens (or has given up): were this
    // client to leave first, the name would have no instance for a moment,
    // and on native a client connecting then would be dropped.
    if (started && settled) endpoint_.threadEnded_.wait(hold, [&settled] { return *settled; });
  }
  CNamedPipeCommand::join_all(ended);
  ServeLoop();
}

void CNamedPipeThread::EndPipeThread() {
  {
    std::lock_guard<std::mutex> hold(endpoint_.lock_);
    live_ = false;
    cancellable_ = nullptr;
  }
  bool closed = false;
  if (pipe_) {
    pipe_->disconnect();
    pipe_.reset();
    closed = true;
  }
  std::lock_guard<std::mutex> hold(endpoint_.lock_);
  if (closed) ++endpoint_.instancesClosed_;
  if (settled_) *settled_ = true;
  // A successor that could not make its instance (every allowed instance
  // was serving a client) left the name without a listener. Now that this
  // instance is closed, one can be made again.
  if (serving_ && running() && !endpoint_.has_listener_locked()) {
    try {
      endpoint_.start_thread_locked(MakeSuccessor());
    } catch (const std::bad_alloc&) {
    }
  }
  // The last touch of the endpoint: from here on the record may be joined.
  ended_ = true;
  endpoint_.threadEnded_.notify_all();
}

std::unique_ptr<CNamedPipeThread> CNamedPipeThread::MakeSuccessor() {
  return std::make_unique<CNamedPipeThread>(endpoint_, pipeName_);
}

std::unique_ptr<CNamedPipeThread> CAnswerThread::MakeSuccessor() {
  return std::make_unique<CAnswerThread>(endpoint(), pipeName());
}

std::unique_ptr<CNamedPipeThread> CServiceThread::MakeSuccessor() {
  return std::make_unique<CServiceThread>(endpoint(), pipeName());
}

// --- reading and writing ----------------------------------------------------------

bool CNamedPipeThread::ReadMessage() {
  std::memset(buffer_, 0, sizeof buffer_);
  count_ = 0;
  // The whole buffer is offered, so that a message that fills it is seen
  // for what it is: too long, as it leaves no room for the terminating NUL.
  std::optional<std::size_t> read = pipe_->read_message(buffer_, sizeof buffer_);
  if (!read || *read > link::max_message_length) {
    std::memset(buffer_, 0, sizeof buffer_);
    return false;
  }
  count_ = *read;
  return true;
}

bool CNamedPipeThread::WriteBytes(const char* data, std::size_t size) { return pipe_->write_message(data, size); }

bool CNamedPipeThread::WriteMessage(const CTcpipMessage& m, bool awaitReply) {
  std::string wire = m.wire_form();
  if (!WriteBytes(wire.data(), wire.size())) return false;
  if (!awaitReply) return true;
  return ReadMessage() && count_ > 0;
}

// --- serving loops --------------------------------------------------------------------

void CNamedPipeThread::ServeLoop() {
  while (running() && ReadMessage()) {
    if (type_byte() == byte_of(link::ENQ) && !DeliverNext()) return;
  }
}

bool CNamedPipeThread::DeliverNext() {
  CTcpipMessage* m = endpoint_.TakeNextPending();
  if (!m) return true;  // nothing to say: the client's read times out
  if (!WriteMessage(*m, true)) {
    // Delivered later, first in line, through another instance.
    endpoint_.RequeueMessage(m);
    return false;
  }
  // Whatever the client answered counts as its receipt.
  endpoint_.CompleteMessage(m);
  return true;
}

void CAnswerThread::ServeLoop() {
  while (running()) {
    if (!ReadMessage()) return;
    unsigned char type = type_byte();
    if (type == byte_of(link::ENQ) || type == byte_of(link::ACK) || type == byte_of(link::NAK)) continue;

    std::shared_ptr<AnswerWait> wait;
    std::unique_ptr<CTcpipMessage> request;
    try {
      if (type == byte_of(link::SYN)) {
        request = std::make_unique<CTcpipMessage>(text().substr(1));
        wait = std::make_shared<AnswerWait>();
        request->answerThread = wait;
      } else {
        request = std::make_unique<CTcpipMessage>(text());
      }
    } catch (const std::bad_alloc&) {
      return;
    }
    // A request that cannot be queued ends the connection without reply.
    if (!endpoint().PostRequest(std::move(request))) return;

    char reply[2] = {link::ACK, 0};
    std::size_t size = 1;
    if (wait) {
      std::uint32_t start = platform::tick_ms();
      while (platform::tick_ms() - start < verdict_wait_ms) {
        platform::sleep_ms(verdict_poll_ms);
        if (wait->value() != 0 || !running()) break;
      }
      // From here a verdict for this request is dropped; none given yet
      // makes it NAK.
      reply[0] = link::SYN;
      reply[1] = static_cast<char>(wait->close());
      size = 2;
    }
    if (!WriteBytes(reply, size)) return;
  }
}

void CServiceThread::ServeLoop() {
  while (running() && ReadMessage()) {
    unsigned char type = type_byte();
    if (type != byte_of(link::ENQ) && type != byte_of(link::SYN)) continue;
    CTcpipMessage* m = endpoint().TakeNextPending();
    if (!m) continue;
    // A monitor message is shown once, whether or not it arrived.
    bool written = WriteMessage(*m, true);
    endpoint().CompleteMessage(m);
    if (!written) break;
  }
  endpoint().set_monitorState(0);
}

}  // namespace qor::pipehost
