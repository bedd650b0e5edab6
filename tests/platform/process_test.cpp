#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qor::platform;
using qor::test::bin_dir;
using qor::test::helper_program;
using qor::test::on_win32;
using qor::test::unique_name;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t generous_ms = 20000;
const char separator = on_win32 ? '\\' : '/';

// A folder of its own for one test, removed afterwards.
struct Scratch {
  fs::path dir = fs::temp_directory_path() / unique_name("qor_process");
  Scratch() { fs::create_directories(dir); }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string file(const std::string& name) const { return (dir / name).string(); }
};

// What echo_args wrote: its current folder and its argv.
struct Report {
  std::string cwd;
  std::vector<std::string> args;
};

bool read_report(const std::string& path, Report& report) {
  std::ifstream in(path, std::ios::binary);
  std::string kind;
  std::size_t length = 0;
  while (in >> kind >> length) {
    in.get();
    std::string text(length, '\0');
    in.read(&text[0], static_cast<std::streamsize>(length));
    in.get();
    if (kind == "cwd")
      report.cwd = text;
    else
      report.args.push_back(text);
  }
  return !report.args.empty();
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A real wait: the helper shows up within a generous bound, or the test fails.
bool wait_for_file(const std::string& path) {
  std::uint32_t start = tick_ms();
  while (tick_ms() - start < generous_ms) {
    if (fs::exists(path)) return true;
    sleep_ms(10);
  }
  return false;
}

std::string command_line(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quote_argument(program);
  for (const auto& arg : args) line += " " + quote_argument(arg);
  return line;
}

// Runs echo_args with the command-line tail `tail` and returns its report.
Report run_echo(const std::string& tail, const std::string& folder = std::string()) {
  Scratch scratch;
  std::string out = scratch.file("report");
  Process process =
      start_process(quote_argument(helper_program("echo_args")) + " " + quote_argument(out) + " " + tail, folder);
  Report report;
  if (!process) {
    ADD_FAILURE() << "echo_args did not start";
    return report;
  }
  std::uint32_t code = 0;
  EXPECT_TRUE(process.wait(generous_ms, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_TRUE(read_report(out, report));
  return report;
}

// Ends a helper that a failed test left behind.
struct Reaper {
  Process& process;
  ~Reaper() {
    if (process.running()) {
      process.kill();
      process.wait(generous_ms);
    }
  }
};

}  // namespace

TEST(ProgramLookup, GivesTheFullPathOfAProgramInTheFolder) {
  struct Case {
    std::string file;
    std::string folder;
    bool found;
  };
  const std::string missing = unique_name("no_such_program") + ".exe";
  const Case cases[] = {
      {"echo_args.exe", bin_dir(), true},
      // Windows adds ".exe" to a bare name; native finds the file as named.
      {"echo_args", bin_dir(), true},
      // Windows goes on to look beside this program and along the search
      // path, so only a name that exists nowhere is sure to fail there.
      {missing, bin_dir(), false},
      {"", bin_dir(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " in " + c.folder);
    std::string path = find_executable(c.file, c.folder);
    if (!c.found) {
      EXPECT_EQ(path, "");
      continue;
    }
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    std::error_code error;
    EXPECT_TRUE(fs::equivalent(path, helper_program("echo_args"), error)) << path;
  }
}

TEST(ProgramLookup, CountsARelativeFolderFromTheCurrentFolder) {
  fs::path saved = fs::current_path();
  fs::current_path(bin_dir());
  std::string path = find_executable("echo_args.exe", ".");
  std::string parent = find_executable("echo_args.exe", (fs::path("..") / fs::path(bin_dir()).filename()).string());
  fs::current_path(saved);
  std::error_code error;
  EXPECT_TRUE(fs::path(path).is_absolute()) << path;
  EXPECT_TRUE(fs::equivalent(path, helper_program("echo_args"), error)) << path;
  EXPECT_TRUE(fs::equivalent(parent, helper_program("echo_args"), error)) << parent;
}

// The rules of CommandLineToArgvW. On win32 the reference is Windows itself:
// split_command_line is CommandLineToArgvW there, and the child's argv comes
// from its C runtime. (Runs of quotes inside a quoted part are left out: the
// C runtimes of the Windows versions disagree about them.)
TEST(CommandLine, ArgumentsReachTheProgramSplitByTheWindowsRules) {
  struct Case {
    const char* tail;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"a b  c", {"a", "b", "c"}},
      {"\t lead and trail \t", {"lead", "and", "trail"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x \"\"", {"", "x", ""}},
      {"a\\b c\\\\d", {"a\\b", "c\\\\d"}},  // no quote follows: literal
      {"a\\\"b", {"a\"b"}},                 // \"  -> "
      {"a\\\\\\\"b", {"a\\\"b"}},           // \\\" -> \"
      {"\"a\\\\\" b", {"a\\", "b"}},        // \\" -> \ and the quote closes
      {"\\\\\\\\\"a b\"", {"\\\\a b"}},     // \\\\" -> \\ and the quote opens
      {"\"\\\"quoted\\\"\"", {"\"quoted\""}},
      {"\"tab\there\"", {"tab\there"}},
      {"\"unclosed part", {"unclosed part"}},
      {"C:\\dir\\ \\\\server\\share\\", {"C:\\dir\\", "\\\\server\\share\\"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    std::vector<std::string> expected{"prog"};
    expected.insert(expected.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(split_command_line(std::string("prog ") + c.tail), expected);

    Report report = run_echo(c.tail);
    ASSERT_GE(report.args.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(report.args.begin() + 2, report.args.end()), c.args);
  }
}

TEST(CommandLine, TheProgramWordTakesNoEscapes) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(split_command_line("\"C:\\Program Files\\app.exe\" -x"), (Args{"C:\\Program Files\\app.exe", "-x"}));
  EXPECT_EQ(split_command_line("C:\\dir\\\"app\" b"), (Args{"C:\\dir\\\"app\"", "b"}));
  EXPECT_EQ(split_command_line("app"), (Args{"app"}));
  EXPECT_EQ(split_command_line(""), Args{});
}

// Only the splitting: on win32 this holds the native rules to Windows' own
// CommandLineToArgvW. In a run of quotes every third one is a literal quote.
TEST(CommandLine, RunsOfQuotesFollowCommandLineToArgvW) {
  struct Case {
    const char* tail;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"\"a\"\"b\"", {"a\"b"}}, {"\"\"\"a\"\"\"", {"\"a\""}},      {"a\"\"\"b", {"a\"b"}},
      {"\"\"\"", {"\""}},       {"\"\"\"\"\"\" x", {"\"\"", "x"}}, {"\"\" \"\"", {"", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail);
    std::vector<std::string> expected{"prog"};
    expected.insert(expected.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(split_command_line(std::string("prog ") + c.tail), expected);
  }
}

TEST(CommandLine, QuotedArgumentsComeBackUnchanged) {
  const std::vector<std::string> args = {"plain",
                                         "",
                                         "two words",
                                         "tab\tin",
                                         "a\"b",
                                         "\"",
                                         "trailing\\",
                                         "trailing\\\\",
                                         "a\\\"b",
                                         "\\\\server\\share\\",
                                         "C:\\Program Files\\",
                                         "new\nline",
                                         "mixed \\\" \\\\\" end\\"};
  std::string line = command_line("prog", args);
  std::vector<std::string> expected{"prog"};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(split_command_line(line), expected) << line;

  // And through a real program's C runtime.
  Scratch scratch;
  std::string out = scratch.file("report");
  std::vector<std::string> with_report{out};
  with_report.insert(with_report.end(), args.begin(), args.end());
  Process process = start_process(command_line(helper_program("echo_args"), with_report), "");
  ASSERT_TRUE(process);
  ASSERT_TRUE(process.wait(generous_ms));
  Report report;
  ASSERT_TRUE(read_report(out, report));
  ASSERT_GE(report.args.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(report.args.begin() + 2, report.args.end()), args);
}

TEST(StartProcess, FindsTheProgramAsCreateProcessDoes) {
  Scratch scratch;
  std::string out = quote_argument(scratch.file("report"));
  // A full path, and on native the same path with ".exe" finds the file
  // without the suffix; a bare name is found beside this program.
  const std::string words[] = {helper_program("echo_args"), bin_dir() + separator + "echo_args.exe", "echo_args.exe"};
  for (const auto& word : words) {
    SCOPED_TRACE(word);
    fs::remove(scratch.file("report"));
    Process process = start_process(quote_argument(word) + " " + out, "");
    ASSERT_TRUE(process);
    EXPECT_NE(process.id(), 0u);
    EXPECT_NE(process.main_thread(), 0u);
    ASSERT_TRUE(process.wait(generous_ms));
    Report report;
    ASSERT_TRUE(read_report(scratch.file("report"), report));
    EXPECT_EQ(report.args[0], word) << "argv[0] is the program word as written";
  }

  EXPECT_FALSE(start_process(quote_argument(bin_dir() + separator + unique_name("no_such_program") + ".exe"), ""));
  EXPECT_FALSE(start_process(unique_name("no_such_program") + ".exe", ""));
  EXPECT_FALSE(start_process("", ""));
}

TEST(StartProcess, RunsTheProgramInTheGivenFolder) {
  Scratch scratch;
  std::error_code error;

  Report absolute = run_echo("", scratch.dir.string());
  EXPECT_TRUE(fs::equivalent(absolute.cwd, scratch.dir, error)) << absolute.cwd;

  Report inherited = run_echo("", "");
  EXPECT_TRUE(fs::equivalent(inherited.cwd, fs::current_path(), error)) << inherited.cwd;

  fs::create_directories(scratch.dir / "sub");
  fs::path saved = fs::current_path();
  fs::current_path(scratch.dir);
  Report relative = run_echo("", "sub");
  fs::current_path(saved);
  EXPECT_TRUE(fs::equivalent(relative.cwd, scratch.dir / "sub", error)) << relative.cwd;

  EXPECT_FALSE(start_process(quote_argument(helper_program("echo_args")) + " x", (scratch.dir / "missing").string()))
      << "a folder that does not exist fails the start";
}

TEST(StartProcess, TheProgramInheritsNoHandles) {
  Scratch scratch;
  std::string out = scratch.file("report");
  // The write end of a pipe, deliberately inheritable; the child writes a
  // byte to it by number. Nothing may arrive at the read end.
#ifdef _WIN32
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
  std::string number = std::to_string(reinterpret_cast<ULONG_PTR>(write_end));
#else
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);  // no O_CLOEXEC
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  std::string number = std::to_string(ends[1]);
#endif
  Process process = start_process(command_line(helper_program("check_handle"), {out, number}), "");
  ASSERT_TRUE(process);
  ASSERT_TRUE(process.wait(generous_ms));
  EXPECT_EQ(read_text(out), "failed");
#ifdef _WIN32
  DWORD waiting = 1;
  EXPECT_TRUE(PeekNamedPipe(read_end, nullptr, 0, nullptr, &waiting, nullptr));
  EXPECT_EQ(waiting, 0u);
  CloseHandle(read_end);
  CloseHandle(write_end);
#else
  char byte;
  EXPECT_EQ(read(ends[0], &byte, 1), -1);
  close(ends[0]);
  close(ends[1]);
#endif
}

TEST(Process, WaitEndsWithTheExitCode) {
  Scratch scratch;
  Process process = start_process(command_line(helper_program("echo_args"), {scratch.file("report")}), "");
  ASSERT_TRUE(process);
  std::uint32_t code = 0;
  ASSERT_TRUE(process.wait(generous_ms, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(process.running());
  EXPECT_TRUE(process.wait(0, &code)) << "an ended program stays ended";
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(Process().running());
}

TEST(AskToQuit, PostsTheQuitMessageToAProgramWithAQueue) {
  Scratch scratch;
  Process process =
      start_process(command_line(helper_program("wait_quit"), {scratch.file("ready"), scratch.file("done")}), "");
  ASSERT_TRUE(process);
  Reaper reaper{process};
  ASSERT_TRUE(wait_for_file(scratch.file("ready")));
  EXPECT_TRUE(process.running());
  EXPECT_FALSE(process.wait(50)) << "it waits for the quit message";

  EXPECT_TRUE(ask_to_quit(process.main_thread()));
  std::uint32_t code = 0;
  ASSERT_TRUE(process.wait(generous_ms, &code));
  EXPECT_EQ(code, 42u) << "it ended through the message, not a signal";
  EXPECT_TRUE(fs::exists(scratch.file("done")));
}

// The plug-in that starts programs keeps nothing but their main thread ids.
TEST(AskToQuit, NeedsOnlyTheMainThreadId) {
  Scratch scratch;
  ThreadId thread = 0;
  {
    Process process =
        start_process(command_line(helper_program("wait_quit"), {scratch.file("ready"), scratch.file("done")}), "");
    ASSERT_TRUE(process);
    thread = process.main_thread();
  }
  ASSERT_TRUE(wait_for_file(scratch.file("ready")));
  EXPECT_TRUE(ask_to_quit(thread));
  EXPECT_TRUE(wait_for_file(scratch.file("done")));
}

TEST(AskToQuit, AProgramWithoutAQueueGetsTheSignalOnNative) {
  Scratch scratch;
  Process process = start_process(command_line(helper_program("idle"), {scratch.file("ready")}), "");
  ASSERT_TRUE(process);
  Reaper reaper{process};
  ASSERT_TRUE(wait_for_file(scratch.file("ready")));
  if (on_win32) {
    // Windows has no other way to ask: the post fails and the program runs on.
    EXPECT_FALSE(ask_to_quit(process.main_thread()));
    EXPECT_TRUE(process.running());
    EXPECT_TRUE(process.kill());
    std::uint32_t code = 0;
    EXPECT_TRUE(process.wait(generous_ms, &code));
    EXPECT_EQ(code, 137u);
  } else {
    EXPECT_TRUE(ask_to_quit(process.main_thread()));
    std::uint32_t code = 0;
    ASSERT_TRUE(process.wait(generous_ms, &code));
    EXPECT_EQ(code, 128u + 15u) << "ended by SIGTERM";
  }
}

TEST(AskToQuit, FailsForAProgramThatHasEnded) {
  Scratch scratch;
  Process process = start_process(command_line(helper_program("echo_args"), {scratch.file("report")}), "");
  ASSERT_TRUE(process);
  ThreadId thread = process.main_thread();
  ASSERT_TRUE(process.wait(generous_ms));
  EXPECT_FALSE(ask_to_quit(thread));
  process = Process();
  EXPECT_FALSE(ask_to_quit(thread)) << "nor once its handle is gone";
  EXPECT_FALSE(ask_to_quit(0));
}

TEST(Process, KillEndsAProgramAtOnce) {
  Scratch scratch;
  Process process =
      start_process(command_line(helper_program("wait_quit"), {scratch.file("ready"), scratch.file("done")}), "");
  ASSERT_TRUE(process);
  ASSERT_TRUE(wait_for_file(scratch.file("ready")));
  EXPECT_TRUE(process.kill());
  std::uint32_t code = 0;
  ASSERT_TRUE(process.wait(generous_ms, &code));
  EXPECT_EQ(code, 137u);
  EXPECT_FALSE(process.kill()) << "nothing left to kill";
  EXPECT_FALSE(fs::exists(scratch.file("done")));
}

#ifndef _WIN32
// The signal path must never hit a process this one did not start: a thread
// id is just a number, and after a program has ended it may name anyone.
TEST(AskToQuit, NeverSignalsAProcessItDidNotStart) {
  pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    alarm(30);
    for (;;) pause();
  }
  EXPECT_FALSE(ask_to_quit(static_cast<ThreadId>(other)));
  int status = 0;
  EXPECT_EQ(waitpid(other, &status, WNOHANG), 0) << "it still runs";
  kill(other, SIGKILL);
  waitpid(other, &status, 0);
}
#endif
