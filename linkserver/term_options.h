#pragma once
// qorterm's command line.
#include <string>
#include <vector>

#include "linkserver/term_session.h"

namespace qor::linkserver {

struct TermOptions {
  TermConfig config;
  bool quiet = false;  // no line per frame
  bool help = false;
  std::string error;   // not empty: the command line was not understood
};

// The arguments after the program name.
TermOptions parse_term_options(const std::vector<std::string>& args);

const char* term_usage_text();

}  // namespace qor::linkserver
