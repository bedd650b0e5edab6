#pragma once
// Reading numbers and flags out of request and configuration texts.
#include <string>

namespace qor::pipehost {

// The integer at the start of a text the way the C library's atoi reads it
// (leading blanks, an optional sign, digits; 0 when there are none), but
// saturating at the 32-bit limits instead of overflowing.
int leading_int(const std::string& text);

// A "Global Parameters" flag: off when empty; otherwise on when the text,
// lower-cased, is "on" or starts with 't' or 'y'. Yes, TRUE, on, y are on;
// 1 and off are off.
bool parse_flag(const std::string& text);

}  // namespace qor::pipehost
