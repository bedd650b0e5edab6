// Any bytes as a host's request text: parsing never fails unsafely, and what
// it yields stays within the request.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pipehost/request_text.h"

using namespace qor::pipehost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  ParsedRequest request = parse_request_text(text, 99, "QORLNK01");
  if (!request.dropped) {
    if (request.text.size() >= text.size()) std::abort();
    check_terminal_text(request.text);
    std::string argument = pipe_argument(request.text);
    if (argument.size() > request.text.size() + 10) std::abort();
  }
  return 0;
}
