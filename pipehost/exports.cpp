// The exports of PipeHost, and what the library does when it is loaded and
// unloaded.
#include <cstdlib>

#include "link/protocol.h"
#include "pipehost/named_pipe_command.h"
#include "pipehost/plugin.h"
#include "pipehost/plugin_state.h"
#include "platform/socket.h"
#include "qor/pipehost.h"

using namespace qor::pipehost;
using qor::link::Verdict;

namespace {

std::uint8_t byte_of(Verdict verdict) { return static_cast<std::uint8_t>(verdict); }

bool on_load() { return qor::platform::start_sockets() == 0; }

void on_unload() {
  PipeTini(plugin_state());
  qor::platform::stop_sockets();
}

}  // namespace

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Init(const char* name) { return PipeInit(plugin_state(), name); }
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Tini(void) { return PipeTini(plugin_state()); }
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Idle(uint32_t milliseconds) { return PipeIdle(milliseconds); }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_WaitData(void** handle, int32_t* terminal, int32_t reserved,
                                                          char* buffer, int32_t size) {
  return PipeWaitData(plugin_state(), handle, terminal, reserved, buffer, size);
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Ack(void** handle) { return PipeVerdict(handle, byte_of(Verdict::ack)); }
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Nack(void** handle) { return PipeVerdict(handle, byte_of(Verdict::nak)); }
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Reject(void** handle) {
  return PipeVerdict(handle, byte_of(Verdict::reject));
}
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Busy(void** handle) { return PipeVerdict(handle, byte_of(Verdict::busy)); }
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Timeout(void** handle) {
  return PipeVerdict(handle, byte_of(Verdict::timeout));
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_WriteData(int32_t terminal, int32_t reserved, const char* packetType,
                                                           const char* data, int32_t length) {
  return PipeWriteData(plugin_state(), terminal, reserved, packetType, data, length);
}

#ifdef _WIN32
// Loading starts the sockets layer (a failure fails the load); unloading by
// FreeLibrary stops the plug-in. At process exit (reserved != null) the other
// threads are gone already and nothing is torn down.
QOR_EXTERN_C int QOR_STDCALL DllMain(void*, unsigned long reason, void* reserved) {
  constexpr unsigned long process_attach = 1, process_detach = 0;
  if (reason == process_attach) return on_load() ? 1 : 0;
  if (reason == process_detach && reserved == nullptr) {
    // Under the loader lock a pipe thread cannot finish ending: the threads
    // are stopped and let go, not joined.
    endpoint_globals().joinStoppedThreads = false;
    on_unload();
  }
  return 1;
}
#else
// The unload work is an exit handler of this library: it runs when the
// library is unloaded, or at process exit before the OS layer's own exit
// clean-up (registered earlier, so run later).
__attribute__((constructor)) static void pipehost_loaded() {
  on_load();
  std::atexit(on_unload);
}
#endif
