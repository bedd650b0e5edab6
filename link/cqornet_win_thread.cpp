#include "link/cqornet_win_thread.h"

#include "link/chunks.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread_queue.h"

namespace qor::link {

std::atomic<bool> join_reply_threads{true};

std::unique_ptr<CQORNetWinThread> CQORNetWinThread::start() {
  std::unique_ptr<CQORNetWinThread> thread(new CQORNetWinThread);
  auto ready = std::make_shared<platform::Event>(true);
  auto queued = std::make_shared<std::atomic<bool>>(false);
  auto id = std::make_shared<std::atomic<platform::ThreadId>>(0);
  std::shared_ptr<Record> record = thread->record_;
  try {
    thread->thread_ = std::thread([record, ready, queued, id]() {
      bool ok = platform::create_thread_queue();
      id->store(platform::current_thread_id());
      queued->store(ok);
      ready->set();
      if (ok) run(*record);
      record->ended = true;
    });
  } catch (...) {
    return nullptr;
  }
  ready->wait(platform::wait_forever);
  thread->id_ = id->load();
  if (!queued->load()) {
    thread->thread_.join();
    return nullptr;
  }
  return thread;
}

CQORNetWinThread::~CQORNetWinThread() {
  if (!thread_.joinable()) return;
  platform::post_thread_message(id_, platform::msg_quit, 0, 0);
  if (join_reply_threads) {
    thread_.join();
    return;
  }
  // The loop ends as soon as it takes the quit message.
  for (int i = 0; i < 100 && !record_->ended; ++i) platform::sleep_ms(10);
  thread_.detach();
}

void CQORNetWinThread::run(Record& record) {
  platform::Message message;
  while (platform::get_message(message))
    if (message.window == platform::no_window) record.handle(message.id, message.wparam, message.lparam);
}

bool CQORNetWinThread::Record::handle(std::uint32_t message, std::uint32_t wparam, std::uint32_t lparam) {
  if (message == MSG_DATA_CHUNK) {
    std::lock_guard<std::mutex> hold(text_lock);
    append_chunk(text, Chunk{wparam, lparam});
    return true;
  }
  Verdict verdict;
  if (!verdict_of_message(message, verdict)) return false;
  // Set after every chunk of the message was appended: the text is whole
  // whenever the state reads ACK.
  state.store(static_cast<int>(verdict));
  return true;
}

std::string CQORNetWinThread::received_text() const {
  std::lock_guard<std::mutex> hold(record_->text_lock);
  return record_->text;
}

bool CQORNetWinThread::received_text_empty() const {
  std::lock_guard<std::mutex> hold(record_->text_lock);
  return record_->text.empty();
}

void CQORNetWinThread::clear() {
  std::lock_guard<std::mutex> hold(record_->text_lock);
  record_->state.store(reply_none);
  record_->text.clear();
}

}  // namespace qor::link
