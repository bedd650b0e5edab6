#pragma once
// One queued item: a host request going to the link server, or a message
// going to a host.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/protocol.h"
#include "platform/message.h"

namespace qor::pipehost {

// The verdict slot of one answer-pipe wait, shared by the waiting answer
// thread and the request it waits for. Each SYN request gets a slot of its
// own, so a verdict can only ever land on the wait it belongs to: one that
// comes after the thread stopped waiting (or after the thread and its
// endpoint are gone) is dropped, and a slot is never reused for the next
// request of the same connection.
class AnswerWait {
 public:
  // 0 while the thread waits; the verdict byte once one is given.
  std::uint8_t value() const { return slot_.load(std::memory_order_acquire); }

  // Gives a verdict; false when the wait was already decided (an earlier
  // verdict, or the thread stopped waiting), which drops this one.
  bool give(link::Verdict verdict) { return decide(static_cast<std::uint8_t>(verdict)); }

  // Called by the thread when it stops waiting: a wait without verdict
  // becomes NAK. Returns the verdict byte the thread replies with.
  std::uint8_t close() {
    decide(static_cast<std::uint8_t>(link::Verdict::nak));
    return value();
  }

 private:
  bool decide(std::uint8_t verdict) {
    std::uint8_t waiting = 0;
    return slot_.compare_exchange_strong(waiting, verdict, std::memory_order_acq_rel);
  }
  std::atomic<std::uint8_t> slot_{0};
};

class CTcpipMessage {
 public:
  // A message with number 0.
  explicit CTcpipMessage(std::string text);
  CTcpipMessage(std::string text, int number);

  // "<number>|<text>" when number is not 0, else the text alone.
  std::string wire_form() const;

  int number = 0;           // terminal number, or the host id of a host-level request; 0 = none
  std::string text;         // no NUL inside
  std::uint32_t createdMs;  // tick_ms() at creation

  // The answer-pipe thread waiting for this request's verdict, reached
  // through the verdict slot of its wait; null for none.
  std::shared_ptr<AnswerWait> answerThread;
  // A window-transport client thread told the verdict; 0 for none.
  platform::ThreadId notifyThreadId = 0;
};

// Gives `verdict` to a request: the waiting answer thread's slot receives
// it (dropped when the thread no longer waits), and its thread message is
// posted to notifyThreadId when that is not 0 (both parameters 0). The
// request is not released; the caller does that. True when the verdict
// reached someone.
bool GiveVerdict(CTcpipMessage& request, link::Verdict verdict);

}  // namespace qor::pipehost
