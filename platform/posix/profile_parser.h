#pragma once
// The native profile (INI) reader and writer as pure functions over a file's
// bytes, so that they can be tested and fuzzed without files. They follow
// Win32 (as Wine implements it):
// - The file is ANSI text (code page 1252), or UTF-8 or UTF-16 (either byte
//   order) when it starts with the matching byte-order mark. It is read as
//   UTF-16; what is returned is converted back to ANSI.
// - Lines end at CR, LF or CR LF; the last line needs no line end. Blank
//   lines are skipped; blanks are space, tab, CR, LF, VT and FF.
// - "[name]" starts a section: the name is the text between "[" and the LAST
//   "]" of the line, without blanks around it; text after that "]" is
//   ignored. A "[" line without "]" is an ordinary line.
// - Any other line is a key: the name is the text before the first "=",
//   the value the text after it, both without blanks around them. A line
//   without "=" is a key without a value: reading it gives the default.
//   There are no comment lines: "; x=1" is a key named "; x", which no
//   caller asks for.
// - Lines before the first section header belong to a section named "".
// - Section and key names compare without regard to ASCII case (other
//   letters compare exactly), and the names asked for lose their blanks
//   around them. The first section of a name is the only one searched, and
//   the first key of a name in it wins.
// - A NUL in a name or value ends it.
// - A value (or default) that starts and ends with the same quote (' or ")
//   is returned without the quotes. Win32 then drops one more character
//   when the text without quotes is exactly size - 1 characters long; this
//   reader does the same, so that both builds read the same results.
// - Trailing spaces of the default are removed (its first character stays).
#include <cstdint>
#include <string>

namespace qor::platform::posix {

// The Win32 string read: copies the value of `key` in `section` of the file
// (null: no file), or the default, into `buffer` as at most size - 1
// characters and a NUL; returns the number of characters copied. With size
// 0 nothing is written and 0 is returned.
std::uint32_t read_profile_text(const std::string* file, const std::string& section, const std::string& key,
                                const std::string& default_value, char* buffer, std::uint32_t size);

// The Win32 integer read: the default when the key is missing, has no value
// or an empty one; otherwise the number that the first 29 characters of the
// value begin with, as Windows parses it: characters up to and including
// space skipped, one "+" or "-", "0x", "0o" or "0b" (lower case) for hex,
// octal and binary, then digits; modulo 2^32; 0 when there are no digits.
std::int32_t read_profile_number(const std::string* file, const std::string& section, const std::string& key,
                                 std::int32_t default_value);

// Whether the three texts can be written so that they read back as they are:
// no NUL, CR or LF anywhere; section and key not blank; the key without "="
// and not starting with "[".
bool profile_texts_writable(const std::string& section, const std::string& key, const std::string& value);

// The file's bytes after writing `value` for `key` in `section` (file null:
// a new file). Replaces the value of the key that a read finds; otherwise
// adds "key=value" after the last line of the first section of that name, or
// a new section at the end. Every other byte of the file stays as it was
// (comments, blank lines, other sections and line ends); the new text is in
// the file's encoding, and added lines end as the file's first line does
// (CR LF in a new file). False (and `result` untouched) when the texts
// are not writable.
bool write_profile_text(const std::string* file, const std::string& section, const std::string& key,
                        const std::string& value, std::string* result);

}  // namespace qor::platform::posix
