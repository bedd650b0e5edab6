// The exports of QorUdp, and what the library does when it is loaded and
// unloaded: the socket layer is started at load and stopped at unload.
#include <cstring>

#include "qor/qorudp.h"
#include "transports/udp/udp_driver.h"

using qor::transports::udp::UdpDriver;

namespace {

// One state per loaded library, made at load and gone at unload (its sockets
// closed), whatever order the C++ run time destroys its statics in.
UdpDriver* state = nullptr;

UdpDriver& driver() {
  if (!state) state = new UdpDriver;
  return *state;
}

void on_load() {
  qor::platform::start_sockets();
  driver();
}

void on_unload() {
  delete state;
  state = nullptr;
  qor::platform::stop_sockets();
}

}  // namespace

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Version(char* buffer) {
  if (buffer) std::memcpy(buffer, UdpDriver::version_text, sizeof UdpDriver::version_text);
  return 0;
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Init(int32_t port) { return driver().init(port); }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Tini(void) { return driver().tini(); }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_WaitPacket(int32_t, int32_t, char* address, int32_t length,
                                                            char* buffer) {
  return driver().wait_packet(address, length, buffer);
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_SendPacket(int32_t, int32_t port, char* address, int32_t length,
                                                            char* buffer) {
  return driver().send_packet(port, address, length, buffer);
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Reply(int32_t, int32_t, char*, int32_t length, char* buffer) {
  return driver().reply(length, buffer);
}

#ifdef _WIN32
// At process exit (reserved != null) the sockets go with the process.
QOR_EXTERN_C int QOR_STDCALL DllMain(void*, unsigned long reason, void* reserved) {
  constexpr unsigned long process_attach = 1, process_detach = 0;
  if (reason == process_attach) on_load();
  if (reason == process_detach && reserved == nullptr) on_unload();
  return 1;
}
#else
__attribute__((constructor)) static void qorudp_loaded() { on_load(); }
__attribute__((destructor)) static void qorudp_unloaded() { on_unload(); }
#endif
