#include "platform/posix/profile_parser.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/text.h"

namespace qor::platform::posix {

namespace {

enum class Encoding { ansi, utf8, utf16le, utf16be };

// A file's text as UTF-16, with the byte offset where each unit starts
// (offsets has one more entry: the end of the file), so that an edit made
// in the text can be spliced into the original bytes.
struct Text {
  Encoding encoding = Encoding::ansi;
  std::u16string chars;
  std::vector<std::size_t> offsets;
  // Where a UTF-8 character cut off by the end of the file starts, if one is.
  std::size_t cut_tail = std::string::npos;
};

void put_code_point(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

// UTF-8 as Windows' converter reads it (Wine's rules): an invalid sequence
// becomes one U+FFFD, and so does a sequence cut off by the end of the file.
void decode_utf8(const std::string& bytes, std::size_t i, Text& text) {
  const std::size_t n = bytes.size();
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  while (i < n) {
    const std::size_t start = i;
    const unsigned char lead = byte(i++);
    char32_t c = 0xFFFD;
    if (lead < 0x80) {
      c = lead;
    } else {
      const int more = (lead >= 0xC2 && lead <= 0xDF) ? 1 : (lead >= 0xE0 && lead <= 0xEF) ? 2
                                                       : (lead >= 0xF0 && lead <= 0xF4) ? 3
                                                                                        : 0;
      if (more > 0 && i + more > n) {
        text.cut_tail = start;
        i = n;
      } else if (more > 0) {
        char32_t value = lead & (more == 1 ? 0x1F : more == 2 ? 0x0F : 0x07);
        bool valid = true;
        // Each step takes one continuation byte; a step that fails leaves
        // the bytes not yet taken to start the next character.
        for (int step = more; step >= 1 && valid; --step) {
          unsigned char next = byte(i) ^ 0x80;
          if (next >= 0x40) {
            valid = false;
            break;
          }
          value = value << 6 | next;
          if (step == 2 && value >= (0x110000 >> 6)) {
            valid = false;
            break;
          }
          ++i;
          if (step == 3 && value < 0x10) valid = false;
          if (step == 2 && (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)))) valid = false;
          if (step == 1 && value < 0x80) valid = false;
        }
        if (valid) c = value;
      }
    }
    std::size_t before = text.chars.size();
    put_code_point(text.chars, c);
    text.offsets.insert(text.offsets.end(), text.chars.size() - before, start);
  }
}

Text decode(const std::string& bytes) {
  Text text;
  const std::size_t n = bytes.size();
  auto starts_with = [&](const char* bom, std::size_t size) { return n >= size && std::memcmp(bytes.data(), bom, size) == 0; };
  if (starts_with("\xEF\xBB\xBF", 3)) {
    text.encoding = Encoding::utf8;
    decode_utf8(bytes, 3, text);
  } else if (starts_with("\xFF\xFE", 2) || starts_with("\xFE\xFF", 2)) {
    const bool little = bytes[0] == '\xFF';
    text.encoding = little ? Encoding::utf16le : Encoding::utf16be;
    for (std::size_t i = 2; i < n; i += 2) {
      auto first = static_cast<unsigned char>(bytes[i]);
      // An odd last byte reads as a unit of its own value.
      auto second = i + 1 < n ? static_cast<unsigned char>(bytes[i + 1]) : 0;
      char16_t unit = i + 1 < n ? static_cast<char16_t>(little ? (second << 8 | first) : (first << 8 | second)) : first;
      text.chars += unit;
      text.offsets.push_back(i);
    }
  } else {
    text.chars = to_wide(bytes);
    for (std::size_t i = 0; i < n; ++i) text.offsets.push_back(i);
  }
  text.offsets.push_back(n);
  return text;
}

std::string encode(const std::u16string& chars, Encoding encoding) {
  std::string out;
  switch (encoding) {
    case Encoding::ansi:
      return to_ansi(chars);
    case Encoding::utf16le:
    case Encoding::utf16be:
      for (char16_t c : chars) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += encoding == Encoding::utf16le ? low : high;
        out += encoding == Encoding::utf16le ? high : low;
      }
      return out;
    case Encoding::utf8:
      for (std::size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < chars.size() && chars[i + 1] >= 0xDC00 && chars[i + 1] <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (chars[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
          c = 0xFFFD;
        }
        if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (c < 0x800) {
          out += static_cast<char>(0xC0 | c >> 6);
          out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
          out += static_cast<char>(0xE0 | c >> 12);
          out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
          out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | c >> 18);
          out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
          out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
          out += static_cast<char>(0x80 | (c & 0x3F));
        }
      }
      return out;
  }
  return out;
}

bool is_blank(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Text up to its first NUL, as the C strings of the Win32 interface end.
std::u16string up_to_nul(const std::u16string& s) { return s.substr(0, s.find(u'\0')); }
std::string up_to_nul(const std::string& s) { return s.substr(0, s.find('\0')); }

std::u16string trimmed(const std::u16string& s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && is_blank(s[begin])) ++begin;
  while (end > begin && is_blank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

bool same_name(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char16_t>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char16_t>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Positions are indexes into the text; `next` is past the line end.
struct Entry {
  std::u16string name;
  bool has_value = false;
  std::u16string value;
  std::size_t line_end = 0, line_next = 0;
  std::size_t name_end = 0, value_begin = 0;
};

struct Section {
  std::u16string name;
  std::size_t header_end = 0, header_next = 0;
  std::vector<Entry> entries;
};

std::vector<Section> parse(const std::u16string& t) {
  std::vector<Section> sections(1);  // the lines before the first header
  const std::size_t n = t.size();
  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t begin = pos;
    std::size_t end = begin;
    while (end < n && t[end] != '\r' && t[end] != '\n') ++end;
    std::size_t next = end;
    if (next < n) next += (t[next] == '\r' && next + 1 < n && t[next + 1] == '\n') ? 2 : 1;
    pos = next;

    std::size_t p = begin;
    while (p < end && is_blank(t[p])) ++p;
    if (p == end) continue;
    if (t[p] == '[') {
      std::size_t close = end - 1;
      while (close > p && t[close] != ']') --close;
      if (close > p) {
        Section section;
        section.name = up_to_nul(trimmed(t.substr(p + 1, close - p - 1)));
        section.header_end = end;
        section.header_next = next;
        sections.push_back(std::move(section));
        continue;
      }
    }
    std::size_t e = end;
    while (e > p && is_blank(t[e - 1])) --e;
    Entry entry;
    entry.line_end = end;
    entry.line_next = next;
    const std::size_t equals = static_cast<std::size_t>(std::find(t.begin() + p, t.begin() + e, u'=') - t.begin());
    if (equals < e) {
      std::size_t name_end = equals;
      while (name_end > p && is_blank(t[name_end - 1])) --name_end;
      std::size_t value_begin = equals + 1;
      while (value_begin < e && is_blank(t[value_begin])) ++value_begin;
      entry.name = up_to_nul(t.substr(p, name_end - p));
      entry.has_value = true;
      entry.value = up_to_nul(t.substr(value_begin, e - value_begin));
      entry.name_end = name_end;
      entry.value_begin = value_begin;
    } else {
      entry.name = up_to_nul(t.substr(p, e - p));
      entry.name_end = e;
    }
    sections.back().entries.push_back(std::move(entry));
  }
  return sections;
}

std::u16string query_name(const std::string& name) { return trimmed(to_wide(up_to_nul(name))); }

Section* find_section(std::vector<Section>& sections, const std::u16string& name) {
  for (auto& section : sections)
    if (same_name(section.name, name)) return &section;
  return nullptr;
}

Entry* find_entry(Section& section, const std::u16string& name) {
  for (auto& entry : section.entries)
    if (same_name(entry.name, name)) return &entry;
  return nullptr;
}

// What Win32 copies into a buffer of `size` units (size >= 1), before the
// conversion to ANSI: the text without matching quotes, at most size - 1
// units, with Win32's extra character dropped at the boundary.
std::u16string copied(const std::u16string& source, std::uint32_t size) {
  const std::size_t n = source.size();
  const std::size_t room = size - 1;
  if (n >= 2 && (source[0] == '"' || source[0] == '\'') && source[n - 1] == source[0]) {
    // The text after the opening quote still ends with the closing one.
    std::u16string copy = source.substr(1, std::min(room, n - 1));
    if (size >= n - 1 && !copy.empty()) copy.pop_back();
    return copy;
  }
  return source.substr(0, std::min(room, n));
}

// The value as Win32 copies it into a buffer of `size` units.
std::u16string read_wide(const std::string* file, const std::string& section, const std::string& key,
                         const std::string& default_value, std::uint32_t size) {
  if (file) {
    Text text = decode(*file);
    std::vector<Section> sections = parse(text.chars);
    Section* found = find_section(sections, query_name(section));
    Entry* entry = found ? find_entry(*found, query_name(key)) : nullptr;
    if (entry && entry->has_value) return copied(entry->value, size);
  }
  std::u16string fallback = to_wide(up_to_nul(default_value));
  std::size_t end = fallback.size();
  while (end > 1 && fallback[end - 1] == ' ') --end;
  fallback.resize(end);
  return copied(fallback, size);
}

// Splices `insert` over the units [from, to) of the text into the file's bytes.
std::string spliced(const std::string& bytes, const Text& text, std::size_t from, std::size_t to,
                    const std::u16string& insert) {
  std::string out = bytes.substr(0, text.offsets[from]);
  out += encode(insert, text.encoding);
  out += bytes.substr(text.offsets[to]);
  return out;
}

std::u16string line_end_of(const std::u16string& t) {
  std::size_t at = t.find_first_of(u"\r\n");
  if (at == std::u16string::npos) return u"\r\n";
  if (t[at] == '\n') return u"\n";
  return (at + 1 < t.size() && t[at + 1] == '\n') ? u"\r\n" : u"\r";
}

}  // namespace

std::uint32_t read_profile_text(const std::string* file, const std::string& section, const std::string& key,
                                const std::string& default_value, char* buffer, std::uint32_t size) {
  if (!buffer || size == 0) return 0;
  std::string ansi = to_ansi(read_wide(file, section, key, default_value, size));
  if (ansi.size() > size - 1) ansi.resize(size - 1);
  std::memcpy(buffer, ansi.data(), ansi.size());
  buffer[ansi.size()] = '\0';
  return static_cast<std::uint32_t>(ansi.size());
}

std::int32_t read_profile_number(const std::string* file, const std::string& section, const std::string& key,
                                 std::int32_t default_value) {
  // Win32 reads the value into 30 characters and parses those.
  const std::u16string s = read_wide(file, section, key, std::string(), 30);
  if (s.empty()) return default_value;
  std::size_t i = 0;
  while (i < s.size() && s[i] <= ' ') ++i;
  bool minus = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
  std::uint32_t base = 10;
  if (i + 1 < s.size() && s[i] == '0') {
    std::uint32_t prefixed = s[i + 1] == 'x' ? 16 : s[i + 1] == 'o' ? 8 : s[i + 1] == 'b' ? 2 : 0;
    if (prefixed) {
      base = prefixed;
      i += 2;
    }
  }
  std::uint32_t total = 0;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    std::uint32_t digit = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'A' && c <= 'Z') ? c - 'A' + 10
                          : (c >= 'a' && c <= 'z') ? c - 'a' + 10
                                                   : 36;
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (minus) total = 0u - total;
  return static_cast<std::int32_t>(total);
}

bool profile_texts_writable(const std::string& section, const std::string& key, const std::string& value) {
  for (const std::string* text : {&section, &key, &value})
    if (text->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  std::u16string s = query_name(section), k = query_name(key);
  return !s.empty() && !k.empty() && k.find(u'=') == std::u16string::npos && k[0] != '[';
}

bool write_profile_text(const std::string* file, const std::string& section, const std::string& key,
                        const std::string& value, std::string* result) {
  if (!result || !profile_texts_writable(section, key, value)) return false;
  std::string bytes = file ? *file : std::string();
  Text text = decode(bytes);
  if (bytes.size() % 2 == 1 && (text.encoding == Encoding::utf16le || text.encoding == Encoding::utf16be)) {
    // The odd last byte read as a unit of its own; it is stored as that
    // unit, so that what follows it stays aligned.
    char last = bytes.back();
    bytes.back() = '\0';
    bytes += text.encoding == Encoding::utf16le ? '\0' : last;
    if (text.encoding == Encoding::utf16le) bytes[bytes.size() - 2] = last;
    text = decode(bytes);
  }
  if (text.cut_tail != std::string::npos) {
    // A character cut off by the end of the file reads as U+FFFD, and takes
    // whatever follows it; it is stored as U+FFFD before anything follows.
    bytes = bytes.substr(0, text.cut_tail) + "\xEF\xBF\xBD";
    text = decode(bytes);
  }
  const std::u16string& t = text.chars;
  const std::u16string s = query_name(section), k = query_name(key), v = to_wide(value);
  const std::u16string eol = line_end_of(t);
  std::vector<Section> sections = parse(t);

  Section* found = find_section(sections, s);
  if (found) {
    Entry* entry = find_entry(*found, k);
    if (entry) {
      std::size_t from = entry->has_value ? entry->value_begin : entry->name_end;
      *result = spliced(bytes, text, from, entry->line_end, entry->has_value ? v : u"=" + v);
      return true;
    }
    // After the section's last line (its header when it has no keys).
    std::size_t end = found->header_end, next = found->header_next;
    if (!found->entries.empty()) {
      end = found->entries.back().line_end;
      next = found->entries.back().line_next;
    }
    std::u16string line = k + u"=" + v + eol;
    *result = spliced(bytes, text, next, next, next == end ? eol + line : line);
    return true;
  }
  std::u16string added;
  if (!t.empty() && t.back() != '\r' && t.back() != '\n') added = eol;
  added += u"[" + s + u"]" + eol + k + u"=" + v + eol;
  *result = spliced(bytes, text, t.size(), t.size(), added);
  return true;
}

}  // namespace qor::platform::posix
