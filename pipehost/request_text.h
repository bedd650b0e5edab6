#pragma once
// How the plug-in reads a host's request text: which number, command and
// text it carries, and the arguments of the commands it settles itself.
#include <string>

namespace qor::pipehost {

struct ParsedRequest {
  bool dropped = false;  // no usable "|": released without a verdict
  int number = 0;        // terminal number, or the host id for host-level requests
  std::string command;
  std::string text;
};

// Splits a request text that carries no number yet. With host id 99 and
// instance QORLNK01:
//   "5|QORLNK01_ORDERS|HELLO"  -> number 5, command "5", text "ORDERS|HELLO"
//   "99|QORLNK01_CT|5"         -> number 99, command "QORLNK01_CT", text "CT|5"
//   "OpenPipe|QORLNK01_ORDERS" -> number 0, command "OpenPipe", text "QORLNK01_ORDERS"
//   "NOSEPARATOR", "|x", "99|x", "99||x" -> dropped
ParsedRequest parse_request_text(const std::string& text, int host_id, const std::string& instance);

// The six words whose text keeps the instance prefix: "OpenPipe",
// "ClosePipe", "QORNetMonitor", "CheckRivo63", "CreatePipe", "DestroyPipe".
bool keeps_instance_prefix(const std::string& command);

// The text handed to the link server for "CheckTerminal": "CT|" and the text
// after its first "|", or the whole text when it has none.
std::string check_terminal_text(const std::string& text);

// The pipe name of "OpenPipe" and "ClosePipe": the text before its first "|"
// (when that is not the first character), else the whole text; a name whose
// integer value is above 0 becomes that number in three digits ("5" -> "005").
std::string pipe_argument(const std::string& text);

}  // namespace qor::pipehost
