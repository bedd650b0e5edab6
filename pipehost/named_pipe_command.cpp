#include "pipehost/named_pipe_command.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <exception>
#include <new>
#include <utility>

#include "pipehost/data_files.h"
#include "pipehost/pipe_threads.h"
#include "pipehost/text_number.h"
#include "platform/profile.h"

namespace qor::pipehost {

namespace {

constexpr std::size_t answer_pipe_name_limit = 127;

// Where undelivered messages go: "Error Path" of this fixed file.
constexpr const char* error_profile = ".\\Rivo63.ini";
constexpr const char* error_section = "Global Parameters";
constexpr const char* error_key = "Error Path";
constexpr const char* error_default = ".\\ERROR";
constexpr std::uint32_t error_path_size = 255;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// "buffer=5" and "size=3": the number after the first "=", when the "="
// is not the first character.
void assign_after_equals(const std::string& token, int& setting) {
  std::size_t equals = token.find('=');
  if (equals != std::string::npos && equals > 0) setting = leading_int(token.substr(equals + 1));
}

}  // namespace

EndpointGlobals& endpoint_globals() {
  static EndpointGlobals globals;
  return globals;
}

void set_answer_pipe_name(const std::string& name) {
  endpoint_globals().answerPipeName = name.substr(0, answer_pipe_name_limit);
}

CNamedPipeCommand::CNamedPipeCommand(std::string name) : name_(std::move(name)) {
  EndpointGlobals& globals = endpoint_globals();
  kind_ = name_ == globals.monitorPipeName  ? Kind::monitor
          : name_ == globals.answerPipeName ? Kind::answer
                                            : Kind::data;
  std::unique_ptr<CNamedPipeThread> first;
  switch (kind_) {
    case Kind::monitor:
      if (globals.monitorEndpoint) return;
      first = std::make_unique<CServiceThread>(*this, name_);
      globals.monitorEndpoint = this;  // only once nothing can throw any more
      break;
    case Kind::answer:
      if (globals.answerEndpoint) return;
      first = std::make_unique<CAnswerThread>(*this, name_);
      globals.answerEndpoint = this;
      break;
    case Kind::data:
      first = std::make_unique<CNamedPipeThread>(*this, name_);
      break;
  }
  std::lock_guard<std::mutex> hold(lock_);
  start_thread_locked(std::move(first));
}

CNamedPipeCommand::~CNamedPipeCommand() {
  EndpointGlobals& globals = endpoint_globals();
  if (globals.answerEndpoint == this) globals.answerEndpoint = nullptr;
  if (globals.monitorEndpoint == this) globals.monitorEndpoint = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    monitor_.terminals.clear();
  }
  stop_threads();
  try {
    DumpUndelivered();
  } catch (const std::exception&) {
    // No memory for the lines: the messages go unrecorded.
  }
}

std::string CNamedPipeCommand::name() const {
  std::lock_guard<std::mutex> hold(lock_);
  return name_;
}

void CNamedPipeCommand::set_name(std::string name) {
  std::lock_guard<std::mutex> hold(lock_);
  name_ = std::move(name);
}

// --- queues -----------------------------------------------------------------

bool CNamedPipeCommand::QueueForDelivery(const std::string& text) {
  if (text.empty()) return false;
  try {
    std::unique_ptr<CTcpipMessage> message;
    std::size_t bar = text.find('|');
    if (bar != std::string::npos && bar >= 1)
      message = std::make_unique<CTcpipMessage>(text.substr(bar + 1), leading_int(text.substr(0, bar)));
    else
      message = std::make_unique<CTcpipMessage>(text);
    // "0|" would go out as an empty message, which no client can receive:
    // it would come back on every poll and hold up everything behind it.
    if (message->wire_form().empty()) return false;
    std::lock_guard<std::mutex> hold(lock_);
    pending_.push_back(std::move(message));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

CTcpipMessage* CNamedPipeCommand::TakeNextPending() {
  std::lock_guard<std::mutex> hold(lock_);
  if (pending_.empty()) return nullptr;
  try {
    inProgress_.push_back(std::move(pending_.front()));
  } catch (const std::bad_alloc&) {
    return nullptr;  // the message stays first in line
  }
  pending_.pop_front();
  return inProgress_.back().get();
}

void CNamedPipeCommand::CompleteMessage(CTcpipMessage* message) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = std::find_if(inProgress_.begin(), inProgress_.end(),
                            [message](const std::unique_ptr<CTcpipMessage>& m) { return m.get() == message; });
  if (found != inProgress_.end()) inProgress_.erase(found);
}

void CNamedPipeCommand::RequeueMessage(CTcpipMessage* message) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = std::find_if(inProgress_.begin(), inProgress_.end(),
                            [message](const std::unique_ptr<CTcpipMessage>& m) { return m.get() == message; });
  if (found == inProgress_.end()) return;
  try {
    pending_.push_front(std::move(*found));
  } catch (const std::bad_alloc&) {
    return;  // it stays in inProgress, and is written out at destruction
  }
  inProgress_.erase(found);
}

bool CNamedPipeCommand::PostRequest(std::unique_ptr<CTcpipMessage> message) {
  if (!message) return false;
  std::lock_guard<std::mutex> hold(lock_);
  try {
    requests_.push_back(std::move(message));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::unique_ptr<CTcpipMessage> CNamedPipeCommand::TakeRequest() {
  std::lock_guard<std::mutex> hold(lock_);
  if (requests_.empty()) return nullptr;
  std::unique_ptr<CTcpipMessage> request = std::move(requests_.front());
  requests_.pop_front();
  return request;
}

void CNamedPipeCommand::RequeueRequest(std::unique_ptr<CTcpipMessage> message) {
  if (!message) return;
  std::lock_guard<std::mutex> hold(lock_);
  try {
    requests_.push_front(std::move(message));
  } catch (const std::bad_alloc&) {
  }
}

std::size_t CNamedPipeCommand::pending_count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return pending_.size();
}

std::size_t CNamedPipeCommand::in_progress_count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return inProgress_.size();
}

std::size_t CNamedPipeCommand::request_count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_.size();
}

// --- monitor ----------------------------------------------------------------

void CNamedPipeCommand::release_pending_locked() { pending_.clear(); }

bool CNamedPipeCommand::ApplyMonitorCommands(const std::string& list) {
  std::lock_guard<std::mutex> hold(lock_);
  std::size_t at = 0;
  while (at <= list.size()) {
    std::size_t end = list.find('|', at);
    if (end == std::string::npos) end = list.size();
    std::string token = lower(list.substr(at, end - at));
    at = end + 1;
    if (token.empty()) continue;

    if (contains(token, "start")) {
      if (monitorState_ == 0) return false;
      release_pending_locked();
      monitorState_ = 2;
    } else if (contains(token, "stop")) {
      if (monitorState_ != 2) return false;
      monitorState_ = 1;
      release_pending_locked();
      monitor_.size = 0;
      monitor_.buffer = -1;
    } else if (contains(token, "check")) {
      if (monitorState_ != 0) return false;
    } else if (contains(token, "buffer")) {
      assign_after_equals(token, monitor_.buffer);
    } else if (contains(token, "size")) {
      assign_after_equals(token, monitor_.size);
    } else if (contains(token, "+")) {
      int n = leading_int(token);
      std::vector<int>& listed = monitor_.terminals;
      if (n == 0) {
        monitor_.allTerminals = true;
        listed.clear();
      } else if (std::find(listed.begin(), listed.end(), n) == listed.end()) {
        listed.push_back(n);
      }
    } else if (contains(token, "-")) {
      int n = leading_int(token);
      if (n < 0) n = n == INT_MIN ? INT_MAX : -n;
      std::vector<int>& listed = monitor_.terminals;
      auto found = std::find(listed.begin(), listed.end(), n);
      if (n == 0) {
        monitor_.allTerminals = false;
        listed.clear();
      } else if (found != listed.end()) {
        listed.erase(found);
      } else {
        listed.push_back(n);
      }
    } else {
      return false;
    }
  }
  return true;
}

int CNamedPipeCommand::monitorState() const {
  std::lock_guard<std::mutex> hold(lock_);
  return monitorState_;
}

void CNamedPipeCommand::set_monitorState(int state) {
  std::lock_guard<std::mutex> hold(lock_);
  monitorState_ = state;
}

MonitorSettings CNamedPipeCommand::monitor_settings() const {
  std::lock_guard<std::mutex> hold(lock_);
  return monitor_;
}

// --- undelivered messages -----------------------------------------------------

void CNamedPipeCommand::DumpUndelivered() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (inProgress_.empty() && pending_.empty()) return;
  }
  std::string folder =
      platform::read_profile_string(error_profile, error_section, error_key, error_default, error_path_size);
  if (folder.empty() || folder.back() != '\\') folder += '\\';

  std::lock_guard<std::mutex> hold(lock_);
  std::string lines;
  auto add = [&lines](const CTcpipMessage& m) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d|", m.number);
    lines += number;
    lines += m.text;
    lines += '\n';
  };
  for (const auto& m : inProgress_) add(*m);
  for (const auto& m : pending_) add(*m);
  append_text(folder + name_ + ".PIP", lines);
}

// --- threads ------------------------------------------------------------------

void CNamedPipeCommand::take_ended_locked(ThreadList& ended) {
  for (auto it = threads_.begin(); it != threads_.end();) {
    auto next = std::next(it);
    if ((*it)->ended_) ended.splice(ended.end(), threads_, it);
    it = next;
  }
}

void CNamedPipeCommand::start_thread_locked(std::unique_ptr<CNamedPipeThread> thread) {
  if (stopping_ || !thread) return;
  CNamedPipeThread* started = thread.get();
  try {
    threads_.push_back(std::move(thread));
    started->worker_ = std::thread([started] { started->Run(); });
  } catch (...) {
    // No thread could be had (bad_alloc, or the system refused one).
    if (!threads_.empty() && threads_.back().get() == started) threads_.pop_back();
  }
}

bool CNamedPipeCommand::has_listener_locked() const {
  return std::any_of(threads_.begin(), threads_.end(),
                     [](const std::unique_ptr<CNamedPipeThread>& t) { return t->live_ && !t->serving_; });
}

void CNamedPipeCommand::join_all(ThreadList& threads) {
  for (auto& thread : threads)
    if (thread->worker_.joinable()) thread->worker_.join();
  threads.clear();
}

void CNamedPipeCommand::stop_threads() {
  ThreadList all;
  {
    std::unique_lock<std::mutex> hold(lock_);
    stopping_ = true;
    for (auto& thread : threads_) {
      if (!thread->live_) continue;
      thread->running_.store(false, std::memory_order_release);
      if (thread->cancellable_) thread->cancellable_->cancel();
    }
    threadEnded_.wait(hold, [this] {
      return std::all_of(threads_.begin(), threads_.end(),
                         [](const std::unique_ptr<CNamedPipeThread>& t) { return t->ended_; });
    });
    all.splice(all.end(), threads_);
  }
  if (endpoint_globals().joinStoppedThreads) {
    join_all(all);
  } else {
    for (auto& thread : all)
      if (thread->worker_.joinable()) thread->worker_.detach();
  }
}

std::size_t CNamedPipeCommand::thread_count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<std::size_t>(std::count_if(threads_.begin(), threads_.end(),
                                                [](const std::unique_ptr<CNamedPipeThread>& t) { return t->live_; }));
}

}  // namespace qor::pipehost
