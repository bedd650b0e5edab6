#pragma once
// The threads that serve one pipe instance each. A thread creates its
// instance, waits for a client, starts a successor that listens in its
// place, serves the client until the connection ends, and ends:
//
//   CNamedPipeThread  data endpoint: ENQ delivers the oldest pending message
//                     and reads one reply as its receipt
//   CAnswerThread     answer endpoint: requests for the link server, with a
//                     SYN reply carrying the verdict
//   CServiceThread    monitor endpoint: ENQ or SYN polls for monitor messages
//
// The endpoint owns its threads and joins them when it stops them; a thread
// touches only its own endpoint and its own record.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "link/protocol.h"
#include "pipehost/tcpip_message.h"
#include "platform/named_pipe.h"

namespace qor::pipehost {

class CNamedPipeCommand;

class CNamedPipeThread {
 public:
  // The instance limit of every pipe name the plug-in serves.
  static constexpr int max_instances = 100;

  CNamedPipeThread(CNamedPipeCommand& endpoint, std::string pipeName);
  virtual ~CNamedPipeThread();
  CNamedPipeThread(const CNamedPipeThread&) = delete;
  CNamedPipeThread& operator=(const CNamedPipeThread&) = delete;

  const std::string& pipeName() const { return pipeName_; }

 protected:
  // Zeroes the buffer and reads one message into it, to be used as a
  // NUL-terminated text. False when the read failed or the message is
  // longer than max_message_length.
  bool ReadMessage();
  // The first byte of the message last read.
  unsigned char type_byte() const { return static_cast<unsigned char>(buffer_[0]); }
  // The message last read as text: up to its first NUL.
  std::string text() const { return std::string(buffer_); }

  // Writes the wire form of `m` as one message; with `awaitReply`, then
  // reads one message, which must hold at least one byte. Its content is
  // not looked at.
  bool WriteMessage(const CTcpipMessage& m, bool awaitReply);
  bool WriteBytes(const char* data, std::size_t size);

  bool running() const { return running_.load(std::memory_order_acquire); }
  CNamedPipeCommand& endpoint() { return endpoint_; }

  // The serving loop of the class, once a client is connected.
  virtual void ServeLoop();
  // A new listening thread of the same class for the same pipe.
  virtual std::unique_ptr<CNamedPipeThread> MakeSuccessor();

 private:
  friend class CNamedPipeCommand;

  void Run();
  void ServeClient();
  void EndPipeThread();
  // ENQ on a data pipe; false when the connection is to end.
  bool DeliverNext();

  CNamedPipeCommand& endpoint_;
  const std::string pipeName_;
  std::atomic<bool> running_{true};

  // Published under the endpoint lock once created, so that stopping the
  // endpoint can cancel a blocked call; the thread alone destroys it, after
  // it has left the live threads.
  std::unique_ptr<platform::PipeServer> pipe_;
  platform::PipeServer* cancellable_ = nullptr;  // under the endpoint lock

  // Under the endpoint lock.
  bool live_ = true;      // in the endpoint's live threads
  bool serving_ = false;  // has taken a client
  bool ended_ = false;    // past its last touch of the endpoint: may be joined

  // Shared with the predecessor that started this thread: set under the
  // endpoint lock once this thread's instance listens or the thread has
  // ended. The predecessor waits for it before it serves its client.
  std::shared_ptr<bool> settled_;

  std::thread worker_;
  char buffer_[link::message_buffer_size];
  std::size_t count_ = 0;
};

class CAnswerThread final : public CNamedPipeThread {
 public:
  // How long a SYN request waits for its verdict, and how often it looks.
  static constexpr std::uint32_t verdict_wait_ms = 5000;
  static constexpr std::uint32_t verdict_poll_ms = 10;

  using CNamedPipeThread::CNamedPipeThread;

 protected:
  void ServeLoop() override;
  std::unique_ptr<CNamedPipeThread> MakeSuccessor() override;
};

class CServiceThread final : public CNamedPipeThread {
 public:
  using CNamedPipeThread::CNamedPipeThread;

 protected:
  void ServeLoop() override;
  std::unique_ptr<CNamedPipeThread> MakeSuccessor() override;
};

}  // namespace qor::pipehost
