// demohost: the demo's host application. It loads QorLink by name, waits for
// orders from terminals on its data pipe and answers each terminal, until it
// has handled the number of orders asked for or its time is up.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/module.h"
#include "qor/qorlink.h"

namespace {

const char* usage =
    "Usage: demohost --instance NAME [--pipe P] [--orders N] [--time MS]\n"
    "Waits on the data pipe P (default ORDERS) of the instance for terminal\n"
    "data, prints each order and answers its terminal with \"ACCEPTED <data>\",\n"
    "until N orders (default 1) are handled or MS ms (default 30000) have passed.\n"
    "Exit code 0 when every order was answered and acknowledged, 1 otherwise,\n"
    "2 for a bad command line, 5 when qorlink.dll cannot be loaded.\n";

template <typename Fn>
bool bind(qor::platform::ModuleHandle module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(qor::platform::find_symbol(module, name));
  return fn != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::string instance, pipe = "ORDERS";
  long orders = 1, time_ms = 30000;
  for (int a = 1; a < argc; ++a) {
    std::string arg = argv[a];
    bool has_value = a + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (arg == "--instance" && has_value) {
      instance = argv[++a];
    } else if (arg == "--pipe" && has_value) {
      pipe = argv[++a];
    } else if (arg == "--orders" && has_value) {
      orders = std::strtol(argv[++a], nullptr, 10);
    } else if (arg == "--time" && has_value) {
      time_ms = std::strtol(argv[++a], nullptr, 10);
    } else {
      std::fprintf(stderr, "demohost: unexpected argument %s\n%s", arg.c_str(), usage);
      return 2;
    }
  }
  if (instance.empty() || orders < 1 || time_ms < 1 || pipe.empty() || pipe.size() > 60) {
    std::fputs(usage, stderr);
    return 2;
  }

  qor::platform::ModuleHandle module = qor::platform::load_module("qorlink.dll");
  decltype(&QORLink_WaitData) wait_data = nullptr;
  decltype(&QORLink_SendData) send_data = nullptr;
  if (!module || !bind(module, wait_data, "QORLink_WaitData") || !bind(module, send_data, "QORLink_SendData")) {
    std::fprintf(stderr, "demohost: qorlink.dll could not be loaded\n");
    return 5;
  }

  long handled = 0, answered = 0;
  std::uint32_t start = qor::platform::tick_ms();
  while (handled < orders && qor::platform::tick_ms() - start < static_cast<std::uint32_t>(time_ms)) {
    char type[64];
    std::snprintf(type, sizeof type, "%s", pipe.c_str());
    char data[1025];
    std::int32_t terminal = -1;
    std::int32_t n = wait_data(".", instance.c_str(), &terminal, 1000, type, data, 1024);
    if (n == 0) qor::platform::sleep_ms(200);  // not reachable yet: try again shortly
    if (n <= 0) continue;
    ++handled;
    std::printf("host: order from terminal %d (%s): %s\n", static_cast<int>(terminal), type, data);
    std::string answer = std::string("ACCEPTED ") + data;
    std::int32_t r = send_data(".", instance.c_str(), terminal, 5000, pipe.c_str(), answer.c_str(),
                               static_cast<std::int32_t>(answer.size()));
    if (r > 0) ++answered;
    std::printf("host: answer to terminal %d: %s\n", static_cast<int>(terminal),
                r > 0 ? "acknowledged" : "not acknowledged");
    std::fflush(stdout);
  }
  std::printf("host: %ld orders, %ld answers acknowledged\n", handled, answered);
  return handled == orders && answered == orders ? 0 : 1;
}
