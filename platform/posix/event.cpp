#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qor::platform {

struct Event::State {
  std::mutex lock;
  std::condition_variable changed;
  bool manual_reset;
  bool is_set;
};

Event::Event(bool manual_reset, bool initially_set) : state_(new State{{}, {}, manual_reset, initially_set}) {}

Event::~Event() = default;

void Event::set() {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->is_set = true;
  if (state_->manual_reset)
    state_->changed.notify_all();
  else
    state_->changed.notify_one();
}

void Event::reset() {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->is_set = false;
}

bool Event::wait(std::uint32_t timeout_ms) {
  std::unique_lock<std::mutex> guard(state_->lock);
  auto is_set = [this] { return state_->is_set; };
  if (timeout_ms == wait_forever)
    state_->changed.wait(guard, is_set);
  else if (!state_->changed.wait_for(guard, std::chrono::milliseconds(timeout_ms), is_set))
    return false;
  if (!state_->manual_reset) state_->is_set = false;
  return true;
}

}  // namespace qor::platform
