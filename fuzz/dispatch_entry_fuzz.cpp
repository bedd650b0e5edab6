// Any bytes as a DISPATCHER value: an entry comes out or none, never a crash,
// and every field of an entry is taken from the value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pipehost/dispatch_entry.h"

using namespace qor::pipehost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  auto entry = parse_dispatch_entry(value, "QORLNK01");
  if (entry) {
    for (const std::string* field : {&entry->packets, &entry->terminals, &entry->program, &entry->arguments,
                                     &entry->file_path})
      if (field->size() > value.size() || field->find('|') != std::string::npos) std::abort();
    if (entry->is_pipe == entry->pipe_name.empty()) std::abort();
  }
  return 0;
}
