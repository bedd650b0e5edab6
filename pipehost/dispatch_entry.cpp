#include "pipehost/dispatch_entry.h"

#include <cctype>

#include "pipehost/text_number.h"

namespace qor::pipehost {

namespace {

// Walks a value the way the C library's strtok does: each token skips any
// run of delimiters before it and ends at the next delimiter, which is
// consumed. The delimiters may change from one token to the next.
class Tokens {
 public:
  explicit Tokens(const std::string& text) : text_(text) {}

  std::string next(const char* delimiters) {
    std::size_t start = text_.find_first_not_of(delimiters, at_);
    if (start == std::string::npos) {
      at_ = text_.size();
      return std::string();
    }
    std::size_t end = text_.find_first_of(delimiters, start);
    if (end == std::string::npos) {
      at_ = text_.size();
      return text_.substr(start);
    }
    at_ = end + 1;
    return text_.substr(start, end - start);
  }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
};

bool equals_ignoring_case(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

}  // namespace

bool entry_flag(const std::string& field) {
  if (field.empty()) return false;
  char c = field[0];
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

std::optional<DispatchEntrySpec> parse_dispatch_entry(const std::string& value, const std::string& instance) {
  Tokens tokens(value);
  std::string kind = tokens.next("|");
  std::string name = tokens.next("|");
  std::string packets = tokens.next("|");
  std::string terminals = tokens.next("|");
  if (kind.empty() || name.empty() || packets.empty() || terminals.empty()) return std::nullopt;

  DispatchEntrySpec entry;
  entry.is_pipe = equals_ignoring_case(kind, "pipe");
  entry.packets = packets;
  entry.terminals = terminals;
  std::string flag = tokens.next("|");
  if (!entry.is_pipe) {
    entry.file_path = name;
    entry.create_now = entry_flag(flag);
    return entry;
  }
  entry.pipe_name = name.find('_') == std::string::npos ? instance + "_" + name : name;
  entry.persistent = entry_flag(flag);
  std::string token = tokens.next("| ");
  if (!token.empty() && std::isdigit(static_cast<unsigned char>(token[0]))) {
    entry.instances = leading_int(token);
    token = tokens.next("| ");
  }
  if (!token.empty()) {
    entry.program = token;
    if (entry.instances == 0) entry.instances = 1;
  }
  entry.arguments = tokens.next("|");
  return entry;
}

}  // namespace qor::pipehost
