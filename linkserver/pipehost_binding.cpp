#include "linkserver/pipehost_binding.h"

#include <type_traits>

#include "platform/module.h"

namespace qor::linkserver {

std::string bind_pipehost(PipeHostExports& e) {
  platform::ModuleHandle module = platform::load_module("PipeHost.dll");
  if (!module) return "PipeHost.dll could not be loaded";
  std::string error;
  auto bind = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(platform::find_symbol(module, name));
    if (!fn && error.empty()) error = std::string("PipeHost.dll has no export ") + name;
  };
  bind(e.init, "Pipe_Init");
  bind(e.tini, "Pipe_Tini");
  bind(e.idle, "Pipe_Idle");
  bind(e.wait_data, "Pipe_WaitData");
  bind(e.ack, "Pipe_Ack");
  bind(e.nack, "Pipe_Nack");
  bind(e.reject, "Pipe_Reject");
  bind(e.busy, "Pipe_Busy");
  bind(e.timeout, "Pipe_Timeout");
  bind(e.write_data, "Pipe_WriteData");
  return error;
}

}  // namespace qor::linkserver
