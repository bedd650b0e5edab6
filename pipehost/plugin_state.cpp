#include "pipehost/plugin_state.h"

#include "pipehost/cdispatcher.h"
#include "pipehost/named_pipe_command.h"
#include "platform/profile.h"

namespace qor::pipehost {

PluginState& plugin_state() {
  static PluginState state;
  return state;
}

std::string default_data_path(const PluginState& state) {
  return platform::read_profile_string(state.configPath, "Global Parameters", "Default Path", "C:\\QOR2\\RIVO63\\DATA",
                                       256);
}

}  // namespace qor::pipehost
