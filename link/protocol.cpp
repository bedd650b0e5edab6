#include "link/protocol.h"

namespace qor::link {

namespace {
struct VerdictRow {
  Verdict verdict;
  std::uint32_t message;
  const char* text;
};
constexpr VerdictRow verdict_table[] = {
    {Verdict::ack, MSG_REPLY_ACK, "ACK"},
    {Verdict::reject, MSG_REPLY_REJECT, "REJECT"},
    {Verdict::busy, MSG_REPLY_BUSY, "BUSY"},
    {Verdict::timeout, MSG_REPLY_TIMEOUT, "TIMEOUT"},
    {Verdict::nak, MSG_REPLY_NAK, "NACK"},
};
}  // namespace

std::uint32_t verdict_message(Verdict verdict) {
  for (const auto& row : verdict_table)
    if (row.verdict == verdict) return row.message;
  return 0;
}

bool verdict_of_message(std::uint32_t message, Verdict& verdict) {
  for (const auto& row : verdict_table)
    if (row.message == message) {
      verdict = row.verdict;
      return true;
    }
  return false;
}

bool verdict_of_byte(std::uint8_t byte, Verdict& verdict) {
  for (const auto& row : verdict_table)
    if (static_cast<std::uint8_t>(row.verdict) == byte) {
      verdict = row.verdict;
      return true;
    }
  return false;
}

const char* verdict_text(Verdict verdict) {
  for (const auto& row : verdict_table)
    if (row.verdict == verdict) return row.text;
  return "";
}

}  // namespace qor::link
