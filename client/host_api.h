#pragma once
// What each export of QorLink does; exports.cpp only forwards to these.
// Arguments come straight from the host: any pointer may be null.
#include <cstdint>
#include <string>

namespace qor::client {

// The result codes.
constexpr std::int32_t result_ok = 1;
constexpr std::int32_t result_not_started = 0;
constexpr std::int32_t result_timeout = -1;
constexpr std::int32_t result_not_enough_memory = -4;
constexpr std::int32_t result_bad_parameter = -5;
constexpr std::int32_t result_not_found = -6;
constexpr std::int32_t result_not_in_database = -8;
constexpr std::int32_t result_undefined = -11;

// The longest type QORLink_WaitData writes, with its NUL.
constexpr std::size_t type_buffer_size = 64;

std::int32_t Check(const char* machine, const char* instance);
std::int32_t Start(const char* machine, const char* instance, std::int32_t mode);
std::int32_t Stop(const char* machine, const char* instance);

std::int32_t OpenPipe(const char* machine, const char* instance, const char* pipe_name);
std::int32_t ClosePipe(const char* machine, const char* instance, const char* pipe_name);
std::int32_t WaitData(const char* machine, const char* instance, std::int32_t* terminal, std::int32_t wait_ms,
                      char* pipe_name_and_type, char* buffer, std::int32_t buffer_size);
std::int32_t SendData(const char* machine, const char* instance, std::int32_t terminal, std::int32_t wait_ms,
                      const char* type, const char* data, std::int32_t length);

std::int32_t CheckTerminal2(const char* machine, const char* instance, std::int32_t terminal, std::int32_t wait_ms);

// The number the decimal digits at the start of a text make (0 when there
// are none; no sign, no blanks), kept within 32 bits.
std::int32_t leading_digits(const std::string& text);

// A delivered message taken apart: "<terminal>|<type>|<data>",
// "<terminal>|<data>" or a bare text. A field is taken only when its "|" is
// not the first character of what is left.
struct SplitMessage {
  bool has_terminal = false;
  std::int32_t terminal = 0;
  bool has_type = false;
  std::string type;
  std::string data;
};
SplitMessage split_message(const std::string& text);

// Library load and unload.
void on_load();
// `process_exit`: the process is ending and its other threads are gone.
void on_unload(bool process_exit);

}  // namespace qor::client
