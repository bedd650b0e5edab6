#pragma once
// The byte values, message numbers and sizes that host clients and the pipe
// plug-in both rely on.
#include <cstddef>
#include <cstdint>

namespace qor::link {

// Control bytes.
constexpr char ENQ = 0x05;  // one-byte poll on a data pipe
constexpr char ACK = 0x06;  // positive verdict; receipt; reply to an unconfirmed request
constexpr char NAK = 0x15;  // negative verdict
constexpr char SYN = 0x16;  // first byte of a request that wants a verdict, and of the verdict reply

// A verdict is one byte value.
enum class Verdict : std::uint8_t { ack = 6, reject = 7, busy = 8, timeout = 9, nak = 21 };

// Thread messages of the window transport.
constexpr std::uint32_t MSG_DATA_CHUNK = 0x8400;
constexpr std::uint32_t MSG_REPLY_ACK = 0x83FD;
constexpr std::uint32_t MSG_REPLY_NAK = 0x83FE;
constexpr std::uint32_t MSG_REPLY_TIMEOUT = 0x8404;
constexpr std::uint32_t MSG_REPLY_BUSY = 0x8405;
constexpr std::uint32_t MSG_REPLY_REJECT = 0x8406;

// Private window messages that carry a copy-data descriptor within a process.
constexpr std::uint32_t MSG_REQUEST_BLOCK = 0x83FF;
constexpr std::uint32_t MSG_DATA_BLOCK = 0x8403;

// Every reader reads into a buffer of this size and treats what it read as a
// NUL-terminated text, so a message holds at most message_buffer_size - 1
// bytes and no NUL.
constexpr std::size_t message_buffer_size = 10240;
constexpr std::size_t max_message_length = message_buffer_size - 1;

constexpr char field_separator = '|';

// The thread message that carries a verdict, and back; 0 / false for values
// that are no verdict.
std::uint32_t verdict_message(Verdict verdict);
bool verdict_of_message(std::uint32_t message, Verdict& verdict);
bool verdict_of_byte(std::uint8_t byte, Verdict& verdict);

// "ACK", "REJECT", "BUSY", "TIMEOUT", "NACK".
const char* verdict_text(Verdict verdict);

}  // namespace qor::link
