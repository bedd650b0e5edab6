// The exports of QorTcp, and what the library does when it is loaded and
// unloaded: the socket layer is started at load and stopped at unload, and an
// unload that was not preceded by QorTcp_Tini stops the driver first.
#include "qor/qortcp.h"
#include "transports/tcp/tcp_driver.h"

using qor::transports::tcp::TcpDriver;

namespace {

// One state per loaded library, made at load and gone at unload, whatever
// order the C++ run time destroys its statics in.
TcpDriver* state = nullptr;

TcpDriver& driver() {
  if (!state) state = new TcpDriver;
  return *state;
}

void on_load() {
  qor::platform::start_sockets();
  driver();
}

void on_unload(bool can_join) {
  if (state && !can_join) state->stop_unjoined();
  delete state;
  state = nullptr;
  qor::platform::stop_sockets();
}

}  // namespace

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Version(char*) { return 0; }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Init(int32_t port) { return driver().init(port); }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Tini(void) { return driver().tini(); }

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_WaitPacket(int32_t timeoutMs, int32_t, char* address, int32_t length,
                                                            char* buffer) {
  return driver().wait_packet(timeoutMs, address, length, buffer);
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_SendPacket(int32_t, int32_t, char*, int32_t length, char* buffer) {
  return driver().send_packet(length, buffer);
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Reply(int32_t, int32_t, char*, int32_t length, char* buffer) {
  return driver().send_packet(length, buffer);
}

#ifdef _WIN32
// Under the loader lock the accept thread is told to stop and let go, not
// joined. At process exit (reserved != null) the other threads are gone
// already and nothing is torn down.
QOR_EXTERN_C int QOR_STDCALL DllMain(void*, unsigned long reason, void* reserved) {
  constexpr unsigned long process_attach = 1, process_detach = 0;
  if (reason == process_attach) on_load();
  if (reason == process_detach && reserved == nullptr) on_unload(false);
  return 1;
}
#else
__attribute__((constructor)) static void qortcp_loaded() { on_load(); }
__attribute__((destructor)) static void qortcp_unloaded() { on_unload(true); }
#endif
