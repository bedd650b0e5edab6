// qorhost: a host application on the command line. It loads QorLink by name,
// as any host does, and runs a sequence of commands against one link server
// instance in one process (a host's open data pipe lives as long as its
// process).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/module.h"
#include "qor/qorlink.h"

namespace {

const char* usage =
    "Usage: qorhost --instance NAME [options] COMMAND [ARGS] [COMMAND [ARGS]...]\n"
    "Runs the commands in order against one link server instance through\n"
    "QorLink (qorlink.dll beside this program), stopping at the first failure.\n"
    "\n"
    "Commands:\n"
    "  check                    does the instance answer?\n"
    "  start                    start the instance on this machine if it is not running\n"
    "  stop                     ask the instance's main window to close\n"
    "  open PIPE                open the host's data pipe PIPE\n"
    "  close                    close every data pipe this process opened\n"
    "  wait PIPE MS             wait up to MS ms (0: no limit on the pipe transport)\n"
    "                           for a message on PIPE; prints terminal, type, data\n"
    "  send PIPE TERMINAL DATA  send DATA to TERMINAL (0-255) as host PIPE\n"
    "  terminal N               is terminal N known to the link server?\n"
    "\n"
    "Options (before the commands):\n"
    "  --instance NAME, -i NAME the instance (for example QORLNK01); required\n"
    "  --machine M, -m M        the link server's machine (default \".\")\n"
    "  --mode normal|max|min    window mode for start (default normal)\n"
    "  --verdict-wait MS        how long send and terminal wait for the verdict\n"
    "                           (default 5000; 0: send waits only for the receipt)\n"
    "  --help                   this text\n"
    "\n"
    "Each command prints one line with QorLink's result. Exit code: 0 all done;\n"
    "1 refused, not known or not running; 2 bad command line or argument;\n"
    "3 timed out (nothing arrived, or the started server did not show up);\n"
    "4 not reachable; 5 QorLink could not be loaded.\n"
    "Set QORLINK_TRANSPORT=pipe to use the pipe transport on this machine.\n";

enum Exit { exit_ok = 0, exit_refused = 1, exit_usage = 2, exit_timeout = 3, exit_unreachable = 4, exit_no_library = 5 };

struct QorLink {
  decltype(&QORLink_Check) check = nullptr;
  decltype(&QORLink_Start) start = nullptr;
  decltype(&QORLink_Stop) stop = nullptr;
  decltype(&QORLink_WaitData) wait_data = nullptr;
  decltype(&QORLink_SendData) send_data = nullptr;
  decltype(&QORLink_OpenPipe) open_pipe = nullptr;
  decltype(&QORLink_ClosePipe) close_pipe = nullptr;
  decltype(&QORLink_CheckTerminal2) check_terminal = nullptr;
};

template <typename Fn>
bool bind(qor::platform::ModuleHandle module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(qor::platform::find_symbol(module, name));
  if (!fn) std::fprintf(stderr, "qorhost: qorlink.dll has no export %s\n", name);
  return fn != nullptr;
}

bool load(QorLink& q) {
  qor::platform::ModuleHandle module = qor::platform::load_module("qorlink.dll");
  if (!module) {
    std::fprintf(stderr, "qorhost: qorlink.dll could not be loaded\n");
    return false;
  }
  return bind(module, q.check, "QORLink_Check") && bind(module, q.start, "QORLink_Start") &&
         bind(module, q.stop, "QORLink_Stop") && bind(module, q.wait_data, "QORLink_WaitData") &&
         bind(module, q.send_data, "QORLink_SendData") && bind(module, q.open_pipe, "QORLink_OpenPipe") &&
         bind(module, q.close_pipe, "QORLink_ClosePipe") && bind(module, q.check_terminal, "QORLink_CheckTerminal2");
}

bool parse_int(const std::string& text, long min, long max, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < min || value > max) return false;
  out = static_cast<int>(value);
  return true;
}

struct Settings {
  std::string machine = ".";
  std::string instance;
  int mode = QorLink_Normal;
  int verdict_wait = 5000;
};

// Turns a result of QorLink into the exit code and prints the line.
int report(const char* command, int result, int ok_exit_from, const char* meaning) {
  std::printf("%s: %d (%s)\n", command, result, meaning);
  std::fflush(stdout);
  if (result >= ok_exit_from) return exit_ok;
  switch (result) {
    case QorLink_BAD_PARAMETER: return exit_usage;
    case QorLink_TIMEOUT: return exit_timeout;
    default: return exit_refused;
  }
}

const char* meaning_of(int result) {
  switch (result) {
    case QorLink_OK: return "ok";
    case QorLink_NOT_STARTED: return "not started, not reachable or refused";
    case QorLink_TIMEOUT: return "timed out";
    case QorLink_BAD_PARAMETER: return "bad parameter";
    case QorLink_NOT_FOUND: return "not acknowledged";
    case QorLink_NOT_CONNECTED: return "not connected";
    case QorLink_NOT_IN_DATABASE: return "terminal not known";
    case QorLink_UNDEFINED: return "no positive verdict";
    case QorLink_NOT_ENOUGH_MEMORY: return "out of memory";
  }
  return "unexpected result";
}

int run(const QorLink& q, const Settings& s, const std::vector<std::string>& words) {
  const char* m = s.machine.c_str();
  const char* i = s.instance.c_str();
  std::size_t at = 0;
  auto take = [&](std::string& out) {
    if (at >= words.size()) return false;
    out = words[at++];
    return true;
  };
  while (at < words.size()) {
    std::string command = words[at++];
    int code = exit_ok;
    if (command == "check") {
      int r = q.check(m, i);
      code = report("check", r, 1, r == 1 ? "answers" : r == 0 ? "does not answer" : meaning_of(r));
    } else if (command == "start") {
      int r = q.start(m, i, s.mode);
      code = report("start", r, 1, r == 1 ? "running" : meaning_of(r));
    } else if (command == "stop") {
      int r = q.stop(m, i);
      code = report("stop", r, 1, r == 1 ? "asked to close" : r == 0 ? "no such window" : meaning_of(r));
    } else if (command == "open") {
      std::string pipe;
      if (!take(pipe)) return std::fprintf(stderr, "qorhost: open needs a pipe name\n"), exit_usage;
      int r = q.open_pipe(m, i, pipe.c_str());
      code = report("open", r, 1, r == 1 ? "opened" : r == 0 ? "refused" : meaning_of(r));
    } else if (command == "close") {
      code = report("close", q.close_pipe(m, i, ""), 0, "every pipe closed");
    } else if (command == "wait") {
      std::string pipe, ms_text;
      int ms = 0;
      if (!take(pipe) || !take(ms_text) || !parse_int(ms_text, 0, 2147483647L, ms))
        return std::fprintf(stderr, "qorhost: wait needs a pipe name and a time in ms\n"), exit_usage;
      char type[64] = {};
      std::snprintf(type, sizeof type, "%s", pipe.c_str());
      std::vector<char> data(10241);
      std::int32_t terminal = -1;
      int r = q.wait_data(m, i, &terminal, ms, type, data.data(), 10240);
      if (r > 0) {
        std::printf("wait: terminal %d type %s data %s\n", static_cast<int>(terminal), type, data.data());
        std::fflush(stdout);
      } else if (r == 0) {
        std::printf("wait: 0 (not reachable)\n");
        code = exit_unreachable;
      } else {
        code = report("wait", r, 1, r == QorLink_TIMEOUT ? "nothing arrived" : meaning_of(r));
      }
    } else if (command == "send") {
      std::string pipe, terminal_text, data;
      int terminal = 0;
      if (!take(pipe) || !take(terminal_text) || !take(data) || !parse_int(terminal_text, -2147483647L, 2147483647L, terminal))
        return std::fprintf(stderr, "qorhost: send needs a pipe name, a terminal and data\n"), exit_usage;
      int r = q.send_data(m, i, terminal, s.verdict_wait, pipe.c_str(), data.c_str(),
                          data.empty() ? 0 : static_cast<int>(data.size()));
      if (r == 0) {
        std::printf("send: 0 (not reachable)\n");
        code = exit_unreachable;
      } else {
        code = report("send", r, 1, r > 0 ? "acknowledged" : meaning_of(r));
      }
    } else if (command == "terminal") {
      std::string number_text;
      int number = 0;
      if (!take(number_text) || !parse_int(number_text, -2147483647L, 2147483647L, number))
        return std::fprintf(stderr, "qorhost: terminal needs a number\n"), exit_usage;
      int r = q.check_terminal(m, i, number, s.verdict_wait);
      code = report("terminal", r, 1, r == 1 ? "known" : meaning_of(r));
      if (r == 0) code = exit_unreachable;
    } else {
      std::fprintf(stderr, "qorhost: unknown command %s (--help lists them)\n", command.c_str());
      return exit_usage;
    }
    if (code != exit_ok) return code;
  }
  return exit_ok;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::vector<std::string> words;
  for (int a = 1; a < argc; ++a) {
    std::string arg = argv[a];
    auto value = [&](std::string& out) {
      if (a + 1 >= argc) return false;
      out = argv[++a];
      return true;
    };
    std::string text;
    if (!words.empty()) {
      words.push_back(arg);
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return exit_ok;
    } else if (arg == "--instance" || arg == "-i") {
      if (!value(settings.instance)) return std::fprintf(stderr, "qorhost: %s needs a value\n", arg.c_str()), exit_usage;
    } else if (arg == "--machine" || arg == "-m") {
      if (!value(settings.machine)) return std::fprintf(stderr, "qorhost: %s needs a value\n", arg.c_str()), exit_usage;
    } else if (arg == "--mode") {
      if (!value(text)) return std::fprintf(stderr, "qorhost: --mode needs a value\n"), exit_usage;
      if (text == "normal") settings.mode = QorLink_Normal;
      else if (text == "max") settings.mode = QorLink_Maximized;
      else if (text == "min") settings.mode = QorLink_Minimized;
      else return std::fprintf(stderr, "qorhost: --mode is normal, max or min\n"), exit_usage;
    } else if (arg == "--verdict-wait") {
      if (!value(text) || !parse_int(text, 0, 2147483647L, settings.verdict_wait))
        return std::fprintf(stderr, "qorhost: --verdict-wait needs a time in ms\n"), exit_usage;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "qorhost: unknown option %s (--help lists them)\n", arg.c_str());
      return exit_usage;
    } else {
      words.push_back(arg);
    }
  }
  if (settings.instance.empty()) {
    std::fprintf(stderr, "qorhost: --instance is required (--help for the usage)\n");
    return exit_usage;
  }
  if (words.empty()) {
    std::fprintf(stderr, "qorhost: no command given (--help lists them)\n");
    return exit_usage;
  }
  QorLink qorlink;
  if (!load(qorlink)) return exit_no_library;
  return run(qorlink, settings, words);
}
