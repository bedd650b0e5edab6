#pragma once
// Text in the ANSI code page (the 8-bit text of the Windows "A" interfaces,
// of profile files and of the wire) and wide text (UTF-16, the text of the
// automation interfaces and the device APIs).
#include <string>

namespace qor::platform {

// The ANSI code page in use: the system's on win32 (1252 on a Western
// Windows and under Wine's default locale), always 1252 on native.
unsigned ansi_code_page();

// ANSI text to UTF-16. Every byte converts; embedded NULs are kept.
std::u16string to_wide(const std::string& ansi);

// UTF-16 to ANSI text as Windows converts it: characters of the code page
// convert exactly, others to their best-fit look-alike where the code page
// has one ("Ā" -> "A"), and to '?' otherwise. Each half of a surrogate pair
// converts on its own, so a character outside the BMP gives "??".
std::string to_ansi(const std::u16string& wide);

}  // namespace qor::platform
