#include "platform/event.h"

#include <windows.h>

namespace qor::platform {

struct Event::State {
  HANDLE handle;
};

Event::Event(bool manual_reset, bool initially_set)
    : state_(new State{CreateEventA(nullptr, manual_reset, initially_set, nullptr)}) {}

Event::~Event() { CloseHandle(state_->handle); }

void Event::set() { SetEvent(state_->handle); }

void Event::reset() { ResetEvent(state_->handle); }

bool Event::wait(std::uint32_t timeout_ms) {
  return WaitForSingleObject(state_->handle, timeout_ms == wait_forever ? INFINITE : timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace qor::platform
