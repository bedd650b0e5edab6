#include "pipehost/request_text.h"

#include <cstdio>

#include "pipehost/text_number.h"

namespace qor::pipehost {

bool keeps_instance_prefix(const std::string& command) {
  static const char* const words[] = {"OpenPipe", "ClosePipe", "QORNetMonitor", "CheckRivo63", "CreatePipe",
                                      "DestroyPipe"};
  for (const char* word : words)
    if (command == word) return true;
  return false;
}

ParsedRequest parse_request_text(const std::string& text, int host_id, const std::string& instance) {
  ParsedRequest request;
  std::size_t bar = text.find('|');
  if (bar == std::string::npos || bar == 0) {
    request.dropped = true;
    return request;
  }
  std::string first = text.substr(0, bar);
  std::string rest = text.substr(bar + 1);
  if (leading_int(first) == host_id) {
    // Host-level: the command is the next field, and the text keeps it.
    std::size_t next = rest.find('|');
    if (next == std::string::npos || next == 0) {
      request.dropped = true;
      return request;
    }
    request.number = host_id;
    request.command = rest.substr(0, next);
  } else {
    request.number = leading_int(first);
    request.command = first;
  }
  request.text = rest;
  const std::string prefix = instance + "_";
  if (!keeps_instance_prefix(request.command) && !instance.empty() && request.text.compare(0, prefix.size(), prefix) == 0)
    request.text.erase(0, prefix.size());
  return request;
}

std::string check_terminal_text(const std::string& text) {
  std::size_t bar = text.find('|');
  return "CT|" + (bar == std::string::npos ? text : text.substr(bar + 1));
}

std::string pipe_argument(const std::string& text) {
  std::size_t bar = text.find('|');
  std::string argument = bar != std::string::npos && bar >= 1 ? text.substr(0, bar) : text;
  int number = leading_int(argument);
  if (number > 0) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", number);
    argument = digits;
  }
  return argument;
}

}  // namespace qor::pipehost
