// Profile files read and written through the OS layer. The same expectations
// hold for the Win32 profile functions (win32 build, under Wine) and for the
// native reader, so every fixture is written byte for byte by the test.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/path_text.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

using namespace qor::platform;
using qor::test::unique_name;

namespace {

void put_file(const std::string& text_path, const std::string& bytes) {
  std::ofstream out(native_path(text_path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string file_bytes(const std::string& text_path) {
  std::ifstream in(native_path(text_path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes the files and folders a test made, by their path text.
class ProfileFiles : public ::testing::Test {
 protected:
  std::string file(const std::string& bytes) {
    std::string path = fresh();
    put_file(path, bytes);
    return path;
  }
  std::string fresh(const std::string& folder = ".") {
    std::string path = folder + "\\" + unique_name("profile") + ".ini";
    made_.push_back(path);
    return path;
  }
  std::string folder() {
    std::string path = ".\\" + unique_name("profile_dir");
    std::filesystem::create_directory(native_path(path));
    made_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      std::error_code ignored;
      std::filesystem::remove_all(native_path(*it), ignored);
    }
  }

 private:
  std::vector<std::string> made_;
};

bool ansi_is_1252() { return ansi_code_page() == 1252; }

struct ReadCase {
  const char* what;
  std::string file;  // the bytes; "-" for no file at all
  const char* section;
  const char* key;
  const char* default_value;
  std::uint32_t size;
  std::string expect;
  bool needs_1252 = false;
};

// Bytes of a literal, NULs included.
template <std::size_t N>
std::string B(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const ReadCase kReads[] = {
    // Finding the key.
    {"plain value", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", "d", 100, "Value"},
    {"names ignore ASCII case", "[Sec]\r\nKey=Value\r\n", "sEC", "kEY", "d", 100, "Value"},
    {"blanks around names and values go, inner blanks stay", "  [ Sec ]  \r\n\t Key \t= a  b \t\r\n", "Sec", "Key",
     "d", 100, "a  b"},
    {"names asked for lose their blanks", "[Sec]\r\nKey=Value\r\n", " Sec\t", "\tKey ", "d", 100, "Value"},
    {"value is everything after the first =", "[Sec]\r\nKey = a=b ; c\r\n", "Sec", "Key", "d", 100, "a=b ; c"},
    {"an empty value is a value", "[Sec]\r\nKey=\r\n", "Sec", "Key", "d", 100, ""},
    {"a key without = reads the default", "[Sec]\r\nKey\r\n", "Sec", "Key", "d", 100, "d"},
    {"the first duplicate key wins, even one without =", "[Sec]\r\nKey\r\nKey=w\r\n", "Sec", "Key", "d", 100, "d"},
    {"duplicate keys differing in case", "[Sec]\r\nkey=1\r\nKEY=2\r\n", "Sec", "Key", "d", 100, "1"},
    {"only the first section of a name is searched", "[Sec]\r\nKey=1\r\n[sec]\r\nOther=2\r\n", "Sec", "Other", "d",
     100, "d"},
    {"a ';' line does not hide the key after it", "[Sec]\r\n;Key=hidden\r\nKey=v\r\n", "Sec", "Key", "d", 100, "v"},
    {"a header ends at its last ']', the rest of the line is ignored", "[a]b] ; note\r\nKey=v\r\n", "a]b", "Key", "d",
     100, "v"},
    {"a '[' line without ']' is no header", "[Sec]\r\n[Other\r\nKey=v\r\n", "Sec", "Key", "d", 100, "v"},
    {"keys before the first header are in no named section", "Key=top\r\n[Sec]\r\nOther=1\r\n", "Sec", "Key", "d",
     100, "d"},
    {"LF line ends", "[Sec]\nA=1\nKey=Value\n", "Sec", "Key", "d", 100, "Value"},
    {"CR line ends", "[Sec]\rA=1\rKey=Value\r", "Sec", "Key", "d", 100, "Value"},
    {"blank lines and a last line without a line end", "\r\n[Sec]\r\n\r\n\r\r\nKey=Value", "Sec", "Key", "d", 100,
     "Value"},
    // Quotes.
    {"double quotes dropped", "[Sec]\r\nKey=\"Quoted\"\r\n", "Sec", "Key", "d", 100, "Quoted"},
    {"single quotes dropped", "[Sec]\r\nKey=' in side '\r\n", "Sec", "Key", "d", 100, " in side "},
    {"quotes after blanks dropped", "[Sec]\r\nKey=  \"a\"  \r\n", "Sec", "Key", "d", 100, "a"},
    {"inner quotes stay", "[Sec]\r\nKey=\"a\"b\"\r\n", "Sec", "Key", "d", 100, "a\"b"},
    {"quotes that do not match stay", "[Sec]\r\nKey=\"Mixed'\r\n", "Sec", "Key", "d", 100, "\"Mixed'"},
    {"a lone quote stays", "[Sec]\r\nKey=\"\r\n", "Sec", "Key", "d", 100, "\""},
    {"empty quotes give an empty value", "[Sec]\r\nKey=\"\"\r\n", "Sec", "Key", "d", 100, ""},
    // Defaults.
    {"no file", "-", "Sec", "Key", "dflt", 100, "dflt"},
    {"no section", "[Sec]\r\nKey=Value\r\n", "Nope", "Key", "dflt", 100, "dflt"},
    {"no key", "[Sec]\r\nKey=Value\r\n", "Sec", "Nope", "dflt", 100, "dflt"},
    {"empty file", "", "Sec", "Key", "dflt", 100, "dflt"},
    {"trailing spaces of the default go", "[Sec]\r\n", "Sec", "Key", "dflt  ", 100, "dflt"},
    {"only trailing spaces of the default go", "[Sec]\r\n", "Sec", "Key", "  d \t ", 100, "  d \t"},
    {"a default of spaces keeps one", "[Sec]\r\n", "Sec", "Key", "   ", 100, " "},
    {"quotes of the default dropped", "[Sec]\r\n", "Sec", "Key", "'q'", 100, "q"},
    // The buffer.
    {"value cut to size - 1", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", "d", 4, "Val"},
    {"value just fits", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", "d", 6, "Value"},
    {"value one too long", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", "d", 5, "Valu"},
    {"room for the NUL only", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", "d", 1, ""},
    {"default cut to size - 1", "[Sec]\r\n", "Sec", "Key", "abcdef", 4, "abc"},
    {"default's spaces go before it is cut", "[Sec]\r\n", "Sec", "Key", "ab   ", 4, "ab"},
    {"quoted value cut", "[Sec]\r\nKey=\"abcdef\"\r\n", "Sec", "Key", "d", 4, "abc"},
    // Win32 drops one more character when the unquoted text is exactly
    // size - 1 long.
    {"quoted value at the boundary", "[Sec]\r\nKey=\"abcdef\"\r\n", "Sec", "Key", "d", 7, "abcde"},
    {"quoted value with room", "[Sec]\r\nKey=\"abcdef\"\r\n", "Sec", "Key", "d", 8, "abcdef"},
    // Bytes and encodings.
    {"a NUL ends the value, not the line", B("[Sec]\r\nKey=a\0b\r\nK2=c\r\n"), "Sec", "Key", "d", 100, "a"},
    {"the line after a NUL is read", B("[Sec]\r\nKey=a\0b\r\nK2=c\r\n"), "Sec", "K2", "d", 100, "c"},
    {"ANSI bytes pass through", "[Sec]\r\nKey=V\xe9\x81\xff\x80\r\n", "Sec", "Key", "d", 100, "V\xe9\x81\xff\x80", true},
    {"UTF-8 after its mark, in ANSI", "\xef\xbb\xbf[Sec]\r\nKey=V\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad\r\n", "Sec", "Key",
     "d", 100, "V\xe9 \x80 ?", true},
    {"invalid UTF-8 bytes become '?'", "\xef\xbb\xbf[Sec]\r\nKey=a\xc0\xafz\r\n", "Sec", "Key", "d", 100, "a??z"},
    {"UTF-16LE after its mark", B("\xff\xfe[\0S\0e\0c\0]\0\r\0\n\0K\0e\0y\0=\0V\0\xe9\0\x01\x04\r\0\n\0"), "Sec",
     "Key", "d", 100, "V\xe9?", true},
    {"UTF-16BE after its mark", B("\xfe\xff\0[\0S\0e\0c\0]\0\r\0\n\0K\0e\0y\0=\0V\0\xe9\x04\x01"), "Sec", "Key",
     "d", 100, "V\xe9?", true},
    {"UTF-16 without a mark is not read as UTF-16", B("[\0S\0]\0\r\0\n\0K\0=\0V\0\r\0\n\0"), "S", "K", "d", 100,
     "d"},
};

}  // namespace

TEST_F(ProfileFiles, ReadsStringsAsWin32Does) {
  for (const auto& c : kReads) {
    SCOPED_TRACE(c.what);
    if (c.needs_1252 && !ansi_is_1252()) continue;
    std::string path = c.file == "-" ? fresh() : file(c.file);
    std::vector<char> buffer(c.size + 8, '#');
    std::uint32_t n = read_profile_string(path, c.section, c.key, c.default_value, buffer.data(), c.size);
    EXPECT_EQ(std::string(buffer.data(), n), c.expect);
    EXPECT_EQ(n, c.expect.size());
    EXPECT_EQ(buffer[n], '\0');
    EXPECT_EQ(std::string(buffer.begin() + c.size, buffer.end()), std::string(8, '#')) << "written past the size";
    EXPECT_EQ(read_profile_string(path, c.section, c.key, c.default_value, c.size), c.expect);
  }
}

TEST_F(ProfileFiles, SizeZeroWritesNothing) {
  std::string path = file("[Sec]\r\nKey=Value\r\n");
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(read_profile_string(path, "Sec", "Key", "d", buffer, 0), 0u);
  EXPECT_EQ(std::string(buffer, 4), "####");
  EXPECT_EQ(read_profile_string(path, "Sec", "Key", "d", nullptr, 10), 0u);
}

TEST_F(ProfileFiles, ReadsIntegersAsWin32Does) {
  struct IntCase {
    std::string value;
    std::int32_t expect;
  };
  const IntCase cases[] = {
      {"123", 123},
      {"-5", -5},
      {"+7", 7},
      {"12abc", 12},
      {"1 2", 1},
      {"12.5", 12},
      {"abc", 0},
      {"--5", 0},
      {"- 5", 0},
      {"0x1f", 31},
      {"-0x10", -16},
      {"0X1f", 0},  // only a lower-case prefix counts
      {"0b101", 5},
      {"010", 10},
      {"4294967295", -1},
      {"4294967297", 1},
      {"-4294967297", -1},
      {"99999999999", 1215752191},
      {"\" 42\"", 42},
      {"\"\"", -777},  // empty once the quotes are gone: the default
      {"", -777},
      // Only the first 29 characters of the value are read.
      {"00000000000000000000000000012", 12},
      {"0000000000000000000000000000012", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::string path = file("[Sec]\r\nKey=" + c.value + "\r\n");
    EXPECT_EQ(read_profile_int(path, "Sec", "Key", -777), c.expect);
  }
  std::string path = file("[Sec]\r\nBare\r\nKey=3\r\n");
  EXPECT_EQ(read_profile_int(path, "sec", "KEY", 99), 3);
  EXPECT_EQ(read_profile_int(path, "Sec", "Bare", 99), 99);
  EXPECT_EQ(read_profile_int(path, "Sec", "Missing", 99), 99);
  EXPECT_EQ(read_profile_int(path, "Other", "Key", 99), 99);
  EXPECT_EQ(read_profile_int(fresh(), "Sec", "Key", 99), 99);
}

TEST_F(ProfileFiles, PathTextWithOrWithoutFolderNamesTheCurrentDirectory) {
  // A bare name is in the current directory on both targets (Win32's profile
  // functions would look in the Windows directory).
  std::string path = file("[QORLINK]\r\nHost=12\r\n");
  std::string bare = path.substr(2);
  EXPECT_EQ(read_profile_int(bare, "QORLINK", "Host", 99), 12);
  std::string sub = folder();
  std::string inside = fresh(sub);
  put_file(inside, "[S]\r\nK=in folder\r\n");
  std::string forward = inside;
  for (char& c : forward)
    if (c == '\\') c = '/';
  EXPECT_EQ(read_profile_string(forward.substr(2), "S", "K", "d", 50), "in folder");
  EXPECT_EQ(read_profile_string(sub + "\\nothing.ini", "S", "K", "d", 50), "d");
  EXPECT_EQ(read_profile_string(sub, "S", "K", "d", 50), "d") << "a folder reads as a missing file";
}

TEST_F(ProfileFiles, WritingBuildsTheFileAsWin32Does) {
  std::string path = fresh();
  ASSERT_TRUE(write_profile_string(path, "App1", "key1", "string1"));
  EXPECT_EQ(file_bytes(path), "[App1]\r\nkey1=string1\r\n");
  ASSERT_TRUE(write_profile_string(path, "App1", "key2", "string2"));
  ASSERT_TRUE(write_profile_string(path, "App1", "key3", "string3"));
  ASSERT_TRUE(write_profile_string(path, "App2", "key4", "string4"));
  ASSERT_TRUE(write_profile_string(path, "app1", "KEY2", "changed"));
  EXPECT_EQ(file_bytes(path),
            "[App1]\r\nkey1=string1\r\nkey2=changed\r\nkey3=string3\r\n"
            "[App2]\r\nkey4=string4\r\n");
  EXPECT_EQ(read_profile_string(path, "App1", "key2", "d", 50), "changed");
}

TEST_F(ProfileFiles, WritingKeepsTheRestOfTheFile) {
  struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
  };
  const WriteCase cases[] = {
      {"replace a value", "; settings\r\n[App]\r\n; note\r\nkey = old \r\nother=1\r\n\r\n[B]\r\nkey=b\r\n", "App", "key"},
      {"add a key to a section", "; settings\r\n[App]\r\n; note\r\nkey = old \r\nother=1\r\n\r\n[B]\r\nkey=b\r\n", "App",
       "added"},
      {"add a section", "; settings\r\n[App]\r\nkey=old\r\n[B]\r\nkey=b\r\n", "New", "key"},
      {"give a bare key a value", "[App]\r\nkey\r\n[B]\r\nkey=b\r\n", "App", "key"},
      {"LF file, other case", "[App]\nKEY=old\nother=1\n[B]\nkey=b\n", "app", "Key"},
      {"after a last line without a line end", "[B]\r\nkey=b\r\n[App]\r\nother=1", "App", "key"},
      {"after a last header without a line end", "[B]\r\nkey=b\r\n[App]", "App", "key"},
      {"the first of duplicate sections", "[App]\r\nother=1\r\n[B]\r\nkey=b\r\n[App]\r\nkey=2\r\n", "App", "key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = file(c.before);
    ASSERT_TRUE(write_profile_string(path, c.section, c.key, "new value"));
    EXPECT_EQ(read_profile_string(path, c.section, c.key, "d", 50), "new value");
    EXPECT_EQ(read_profile_string(path, "B", "key", "d", 50), "b");
    if (c.before.find("other=1") != std::string::npos) {
      EXPECT_EQ(read_profile_int(path, "App", "other", 0), 1);
    }
    if (c.before.find("; settings") != std::string::npos) {
      EXPECT_NE(file_bytes(path).find("; settings"), std::string::npos) << "the comment is gone";
    }
  }
}

TEST_F(ProfileFiles, WritingRefusesTextsThatWouldNotReadBack) {
  const std::string before = "[App]\r\nkey=old\r\n";
  struct Refused {
    const char* what;
    std::string section, key, value;
  };
  const Refused cases[] = {
      {"a line break in the value would add lines", "App", "key", "x\r\n[Evil]\r\nk=v"},
      {"a LF in the value", "App", "key", "x\nk=v"},
      {"a line break in the key", "App", "k\r\n[Evil]\r\nk", "v"},
      {"a line break in the section", "App]\r\n[Evil", "key", "v"},
      {"a NUL in the value", "App", "key", B("a\0b")},
      {"'=' in the key", "App", "a=b", "v"},
      {"a key starting with '['", "App", "[x]", "v"},
      {"a blank key", "App", " ", "v"},
      {"a blank section", "", "key", "v"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = file(before);
    EXPECT_FALSE(write_profile_string(path, c.section, c.key, c.value));
    EXPECT_EQ(file_bytes(path), before);
    EXPECT_EQ(read_profile_string(path, "Evil", "k", "none", 50), "none");
  }
}

TEST_F(ProfileFiles, WritingFailsWhereNoFileCanBe) {
  std::string missing_folder = ".\\" + unique_name("no_such_folder") + "\\x.ini";
  EXPECT_FALSE(write_profile_string(missing_folder, "App", "key", "v"));
  EXPECT_FALSE(std::filesystem::exists(native_path(missing_folder)));
  EXPECT_FALSE(write_profile_string(folder(), "App", "key", "v")) << "a folder is not a file";
}

TEST_F(ProfileFiles, WritersOnTwoThreadsKeepEachOthersKeys) {
  std::string path = fresh();
  constexpr int kKeys = 20;
  auto writer = [&](const char* prefix) {
    for (int i = 0; i < kKeys; ++i) write_profile_string(path, "App", prefix + std::to_string(i), std::to_string(i));
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  for (int i = 0; i < kKeys; ++i) {
    EXPECT_EQ(read_profile_int(path, "App", "a" + std::to_string(i), -1), i);
    EXPECT_EQ(read_profile_int(path, "App", "b" + std::to_string(i), -1), i);
  }
}
