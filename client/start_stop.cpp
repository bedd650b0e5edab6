// Checking, starting and stopping a link server instance.
#include <cstring>

#include "client/client_state.h"
#include "client/host_api.h"
#include "client/server_window.h"
#include "link/names.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/window.h"

namespace qor::client {

namespace {

constexpr std::uint32_t settle_ms = 500;
constexpr std::uint32_t look_interval_ms = 250;
constexpr int looks = 40;

bool this_machine(const char* machine) { return std::strcmp(machine, ".") == 0; }

}  // namespace

std::int32_t Check(const char* machine, const char* instance) {
  if (!machine || !instance) return result_bad_parameter;
  Connection connection;
  client_state().select(machine, instance, "host", &connection);
  if (!connection) return result_not_started;
  return connection->CheckRivo63("host") != 0 ? result_ok : result_not_started;
}

std::int32_t Start(const char* machine, const char* instance, std::int32_t mode) {
  if (!machine || !instance || !this_machine(machine)) return result_bad_parameter;
  if (FindServerWindow(instance) != platform::no_window) return result_ok;

  // The link server is looked for beside this library.
  std::string folder = platform::folder_of(platform::calling_module_path());
  std::string program = platform::find_executable(server_program(instance), folder);
  if (program.empty()) return result_not_started;
  std::string command_line = platform::quote_argument(program) + server_switches(instance, mode);
  platform::Process process = platform::start_process(command_line, folder);
  if (!process) return result_not_started;

  // Up once the plug-in's message window shows, titled as the instance's
  // server window.
  std::string plugin_window = link::server_window_title(instance);
  platform::sleep_ms(settle_ms);
  for (int look = 0; look < looks; ++look) {
    platform::sleep_ms(look_interval_ms);
    if (platform::find_window(plugin_window) != platform::no_window) return result_ok;
  }
  return result_timeout;  // the program keeps running
}

std::int32_t Stop(const char* machine, const char* instance) {
  if (!machine || !instance || !this_machine(machine)) return result_bad_parameter;
  platform::WindowHandle window = FindServerWindow(instance);
  if (window == platform::no_window) return result_not_started;
  return platform::post_message(window, platform::msg_close, 0, 0) ? result_ok : result_not_started;
}

}  // namespace qor::client
