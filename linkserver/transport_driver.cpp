#include "linkserver/transport_driver.h"

#include <type_traits>

#include "platform/module.h"

namespace qor::linkserver {

TransportDriver::TransportDriver(const std::string& prefix) : prefix_(prefix) {
  platform::ModuleHandle module = platform::load_module(prefix + ".dll");
  if (!module) {
    error_ = prefix + ".dll could not be loaded";
    return;
  }
  auto bind = [&](auto& fn, const char* suffix) {
    std::string name = prefix + suffix;
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(platform::find_symbol(module, name.c_str()));
    if (!fn && error_.empty()) error_ = prefix + ".dll has no export " + name;
  };
  bind(version, "_Version");
  bind(init, "_Init");
  bind(tini, "_Tini");
  bind(wait_packet, "_WaitPacket");
  bind(send_packet, "_SendPacket");
  bind(reply, "_Reply");
}

}  // namespace qor::linkserver
