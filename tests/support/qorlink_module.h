#pragma once
// QorLink loaded by name with its exports bound by name, as a host does it.
#include <cstdlib>
#include <string>

#include "platform/module.h"
#include "qor/qorlink.h"

namespace qor::test {

struct QorLinkModule {
  platform::ModuleHandle module = nullptr;
  decltype(&QORLink_Check) check = nullptr;
  decltype(&QORLink_Start) start = nullptr;
  decltype(&QORLink_Stop) stop = nullptr;
  decltype(&QORLink_CheckTerminal) check_terminal = nullptr;
  decltype(&QORLink_WaitData) wait_data = nullptr;
  decltype(&QORLink_SendData) send_data = nullptr;
  decltype(&QORLink_OpenPipe) open_pipe = nullptr;
  decltype(&QORLink_ClosePipe) close_pipe = nullptr;
  decltype(&QORLink_CheckTerminal2) check_terminal2 = nullptr;

  // False when the library or one of its exports is missing.
  bool load() {
    module = platform::load_module("qorlink.dll");
    return module && bind(check, "QORLink_Check") && bind(start, "QORLink_Start") && bind(stop, "QORLink_Stop") &&
           bind(check_terminal, "QORLink_CheckTerminal") && bind(wait_data, "QORLink_WaitData") &&
           bind(send_data, "QORLink_SendData") && bind(open_pipe, "QORLink_OpenPipe") &&
           bind(close_pipe, "QORLink_ClosePipe") && bind(check_terminal2, "QORLink_CheckTerminal2");
  }

 private:
  template <typename Fn>
  bool bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::find_symbol(module, name));
    return fn != nullptr;
  }
};

// Picks QorLink's transport on this machine for connection objects made from
// now on: "pipe", "window", or "" for the default.
inline void choose_transport(const std::string& transport) {
#ifdef _WIN32
  std::string setting = "QORLINK_TRANSPORT=" + transport;  // an empty value removes it
  _putenv(setting.c_str());
#else
  if (transport.empty())
    unsetenv("QORLINK_TRANSPORT");
  else
    setenv("QORLINK_TRANSPORT", transport.c_str(), 1);
#endif
}

}  // namespace qor::test
