// Whether the link server knows a terminal.
#include <string>

#include "client/client_state.h"
#include "client/host_api.h"
#include "link/connection_texts.h"
#include "link/names.h"
#include "platform/profile.h"

namespace qor::client {

namespace {

constexpr std::int32_t default_host_id = 99;

}  // namespace

std::int32_t CheckTerminal2(const char* machine, const char* instance, std::int32_t terminal, std::int32_t wait_ms) {
  if (terminal < 0 || terminal > 255 || !machine || !instance) return result_bad_parameter;
  client_state().select(machine, instance, "host", nullptr);
  std::int32_t r = Check(machine, instance);
  if (r < 1) return r;

  std::string title = link::selected_window_title();
  if (!link::equals_ignoring_case(title, "Rivo63")) {
    // A data message of type "CT" to the link server's own host id, which the
    // host reads from .\<instance>.ini.
    std::int32_t host_id = platform::read_profile_int(".\\" + title + ".ini", "QORLINK", "Host", default_host_id);
    std::string data = std::to_string(terminal);
    r = SendData(machine, instance, host_id, wait_ms, "CT", data.c_str(), static_cast<std::int32_t>(data.size()));
    return r > 0 ? result_ok : result_not_found;
  }
  // The legacy instance has a request of its own: 1 acknowledged, -8 not.
  Connection connection = client_state().connection();
  if (!connection) return result_not_started;
  return connection->CheckTerminal(terminal) == 1 ? result_ok : result_not_in_database;
}

}  // namespace qor::client
