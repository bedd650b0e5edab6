// The exports of QorLink, and what the library does when it is loaded and
// unloaded. No exception leaves an export.
#include <cstdlib>
#include <new>

#include "client/client_state.h"
#include "client/host_api.h"
#include "link/cqornet_win_thread.h"
#include "qor/qorlink.h"

namespace qor::client {

void on_load() { client_state().create_initial(); }

void on_unload(bool process_exit) {
  if (process_exit) {
    // The other threads are gone, the reply thread with them: the pipes'
    // close requests still go out, the objects are left to the system.
    client_state().close_all_pipes_at_exit();
    return;
  }
  client_state().close_all_pipes();
  client_state().drop_connection();
}

}  // namespace qor::client

namespace {

template <typename Call>
std::int32_t guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return qor::client::result_not_enough_memory;
  } catch (...) {
    return qor::client::result_undefined;
  }
}

}  // namespace

using namespace qor::client;

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Check(const char* machine, const char* instance) {
  return guarded([&] { return Check(machine, instance); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Start(const char* machine, const char* instance, int32_t mode) {
  return guarded([&] { return Start(machine, instance, mode); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Stop(const char* machine, const char* instance) {
  return guarded([&] { return Stop(machine, instance); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_CheckTerminal(const char* machine, const char* instance,
                                                                  int32_t terminal, int32_t) {
  return guarded([&] { return CheckTerminal2(machine, instance, terminal, 12000); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_WaitData(const char* machine, const char* instance,
                                                             int32_t* terminal, int32_t waitMs,
                                                             char* pipeNameAndType, char* buffer,
                                                             int32_t bufferSize) {
  return guarded([&] { return WaitData(machine, instance, terminal, waitMs, pipeNameAndType, buffer, bufferSize); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_SendData(const char* machine, const char* instance,
                                                             int32_t terminal, int32_t waitMs, const char* type,
                                                             const char* data, int32_t length) {
  return guarded([&] { return SendData(machine, instance, terminal, waitMs, type, data, length); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_OpenPipe(const char* machine, const char* instance,
                                                             const char* pipeName) {
  return guarded([&] { return OpenPipe(machine, instance, pipeName); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_ClosePipe(const char* machine, const char* instance,
                                                              const char* pipeName) {
  return guarded([&] { return ClosePipe(machine, instance, pipeName); });
}

QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_CheckTerminal2(const char* machine, const char* instance,
                                                                   int32_t terminal, int32_t waitMs) {
  return guarded([&] { return CheckTerminal2(machine, instance, terminal, waitMs); });
}

#ifdef _WIN32
QOR_EXTERN_C int QOR_STDCALL DllMain(void*, unsigned long reason, void* reserved) {
  constexpr unsigned long process_attach = 1, process_detach = 0;
  if (reason == process_attach) {
    try {
      on_load();
    } catch (...) {
      return 0;
    }
  } else if (reason == process_detach) {
    // Unloaded by FreeLibrary (reserved null), a thread cannot finish ending
    // under the loader lock: the reply thread is let go, not joined.
    if (reserved == nullptr) qor::link::join_reply_threads = false;
    try {
      on_unload(reserved != nullptr);
    } catch (...) {
    }
  }
  return 1;
}
#else
namespace {
void qorlink_unloaded() { on_unload(false); }
}  // namespace
// The unload work is an exit handler of this library: it runs when the
// library is unloaded, or at process exit before the OS layer's own exit
// clean-up (registered earlier, so run later).
__attribute__((constructor)) static void qorlink_loaded() {
  on_load();
  std::atexit(qorlink_unloaded);
}
#endif
