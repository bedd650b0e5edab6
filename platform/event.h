#pragma once
// A waitable event between threads of one process.
#include <cstdint>
#include <memory>

namespace qor::platform {

constexpr std::uint32_t wait_forever = 0xFFFFFFFFu;

class Event {
 public:
  // A manual-reset event stays set until reset(); an auto-reset event lets
  // exactly one waiter through per set().
  explicit Event(bool manual_reset = false, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // True when the event was set within `timeout_ms` (wait_forever: no limit).
  bool wait(std::uint32_t timeout_ms);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qor::platform
