#pragma once
// The plug-in's process-wide state: one set per loaded copy of the library,
// used only on the link server's thread that calls the exports.
#include <memory>
#include <string>
#include <vector>

#include "platform/message.h"

namespace qor::pipehost {

class CNamedPipeCommand;
class CDispatcher;

struct PluginState {
  std::string instanceName = "qorlink";    // at most 63 characters
  std::string configPath = ".\\link.ini";  // ".\<instance>.ini"
  int hostId = 99;
  bool terminalHeader = false;  // data file lines start with the terminal
  bool typeHeader = false;      // ... then carry the packet type

  std::vector<std::unique_ptr<CNamedPipeCommand>> endpoints;  // in creation order
  std::vector<std::unique_ptr<CDispatcher>> dispatchers;      // in load order

  platform::WindowHandle window = platform::no_window;  // this process's hidden window
  // Windows left under an earlier instance name by re-targeting; closed by
  // Pipe_Tini with the current one.
  std::vector<platform::WindowHandle> retiredWindows;
};

PluginState& plugin_state();

// "Default Path" of "Global Parameters", read at every use.
std::string default_data_path(const PluginState& state);

}  // namespace qor::pipehost
