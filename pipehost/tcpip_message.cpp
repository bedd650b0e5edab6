#include "pipehost/tcpip_message.h"

#include <utility>

#include "link/chunks.h"
#include "platform/clock.h"
#include "platform/thread_queue.h"

namespace qor::pipehost {

CTcpipMessage::CTcpipMessage(std::string text_) : CTcpipMessage(std::move(text_), 0) {}

CTcpipMessage::CTcpipMessage(std::string text_, int number_)
    : number(number_), text(std::move(text_)), createdMs(platform::tick_ms()) {}

std::string CTcpipMessage::wire_form() const { return link::delivered_message(number, text); }

bool GiveVerdict(CTcpipMessage& request, link::Verdict verdict) {
  bool reached = false;
  if (request.answerThread) reached = request.answerThread->give(verdict);
  if (request.notifyThreadId != 0)
    reached = platform::post_thread_message(request.notifyThreadId, link::verdict_message(verdict), 0, 0) || reached;
  return reached;
}

}  // namespace qor::pipehost
