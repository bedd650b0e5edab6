#pragma once
// The reply thread of the window transport: a thread with a message queue
// that the server posts verdicts and data chunks to. It records the last
// verdict and the text assembled from the chunks; the requesting threads poll
// that record.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message.h"

namespace qor::link {

// The reply states: 0 none yet, else the verdict byte received.
constexpr int reply_none = 0;
constexpr int reply_ack = 6;
constexpr int reply_reject = 7;
constexpr int reply_busy = 8;
constexpr int reply_timeout = 9;
constexpr int reply_nak = 21;

class CQORNetWinThread {
 public:
  // Starts the thread and waits until its queue exists; null when it cannot.
  static std::unique_ptr<CQORNetWinThread> start();
  // Asks the thread to quit and waits until it has (see join_reply_threads).
  ~CQORNetWinThread();
  CQORNetWinThread(const CQORNetWinThread&) = delete;
  CQORNetWinThread& operator=(const CQORNetWinThread&) = delete;

  const char* class_name() const { return "CQORNetWinThread"; }

  // The thread id the server posts to.
  platform::ThreadId id() const { return id_; }

  int reply_state() const { return record_->state.load(); }
  void set_reply_state(int state) { record_->state.store(state); }
  std::string received_text() const;
  bool received_text_empty() const;
  // Reply state 0 and no text.
  void clear();

  // Handles one thread message as the message loop does (the map of
  // verdict messages and data chunks); false for other numbers.
  bool handle(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
    return record_->handle(message, wparam, lparam);
  }

 private:
  // What the thread writes: shared with it, so a thread that is let go at
  // unload never writes into freed memory.
  struct Record {
    std::atomic<int> state{reply_none};
    std::mutex text_lock;
    std::string text;
    std::atomic<bool> ended{false};
    bool handle(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam);
  };

  CQORNetWinThread() = default;
  static void run(Record& record);

  std::shared_ptr<Record> record_ = std::make_shared<Record>();
  std::thread thread_;
  platform::ThreadId id_ = 0;
};

// False while a library is being unloaded by its host: a thread can then not
// finish ending (the loader lock), so a reply thread is asked to quit and let
// go once its loop has ended, instead of being joined.
extern std::atomic<bool> join_reply_threads;

}  // namespace qor::link
