#pragma once
// QorLink: the library through which a host application reaches a link
// server instance. Load "qorlink.dll" (natively libqorlink.so) and bind these
// exports by name (or by their fixed ordinals, given beside each).
//
// Every call names the machine ("." for this one) and the instance. Texts
// are NUL-terminated 8-bit texts. docs/host-guide.md describes the call
// sequence and every result.
#include <stdint.h>

#include "qor/callconv.h"

// Results (QorLinkError).
enum {
  QorLink_OK = 1,
  QorLink_NOT_STARTED = 0,
  QorLink_TIMEOUT = -1,
  QorLink_FATAL_ERROR = -2,
  QorLink_REGISTRY_ERROR = -3,
  QorLink_NOT_ENOUGH_MEMORY = -4,
  QorLink_BAD_PARAMETER = -5,
  QorLink_NOT_FOUND = -6,
  QorLink_NOT_CONNECTED = -7,
  QorLink_NOT_IN_DATABASE = -8,
  QorLink_TOO_MANY_THREADS = -9,
  QorLink_THREAD_NOT_FOUND = -10,
  QorLink_UNDEFINED = -11
};

// Window mode of a started link server (QorLinkMode).
enum { QorLink_Normal = 0, QorLink_Maximized = 1, QorLink_Minimized = 2 };

// 1 the instance answers; 0 it does not; -5 a null argument.   (ordinal 1)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Check(const char* machine, const char* instance);
// Makes sure the instance runs on this machine, starting the link server
// found beside QorLink: 1 running; 0 not found or not started; -1 started but
// not up within about 10.5 s; -5 a null argument or a machine other than ".".
// (ordinal 2)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Start(const char* machine, const char* instance, int32_t mode);
// Asks the instance's main window to close: 1 asked; 0 no such window; -5 as
// above. Does not wait for the server to end.   (ordinal 3)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_Stop(const char* machine, const char* instance);
// QORLink_CheckTerminal2 with a wait of 12000 ms; `reserved` is ignored.
// (ordinal 4)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_CheckTerminal(const char* machine, const char* instance,
                                                                  int32_t terminal, int32_t reserved);
// Waits up to waitMs (0: on the pipe transport without limit, on the window
// transport not at all) for the next message of the data pipe named in
// pipeNameAndType. Places the data (at most bufferSize bytes and a NUL) in
// buffer, the terminal number in *terminal and the type in pipeNameAndType
// (which must hold 64 bytes; longer types are cut to 63). Result: the number
// of data bytes; -1 nothing came; 0 not reachable; -5 bad argument; -11 no
// connection.   (ordinal 6)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_WaitData(const char* machine, const char* instance,
                                                             int32_t* terminal, int32_t waitMs,
                                                             char* pipeNameAndType, char* buffer,
                                                             int32_t bufferSize);
// Sends data (up to its NUL) of a type (the host's pipe name) to terminal
// 0-255, waiting up to waitMs for the link server's verdict (0: only the
// receipt). Result: the data's length when acknowledged; -11 reached but not
// acknowledged; 0 not reachable; -5 bad argument (length must be 1 or more).
// (ordinal 7)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_SendData(const char* machine, const char* instance,
                                                             int32_t terminal, int32_t waitMs, const char* type,
                                                             const char* data, int32_t length);
// Opens the host's data pipe on a fresh connection: 1 opened; 0 refused
// (every pipe of the process is then closed); -5 null argument; -11 no
// connection.   (ordinal 9)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_OpenPipe(const char* machine, const char* instance,
                                                             const char* pipeName);
// Closes every data pipe the process opened: 0; -5 a null argument.
// (ordinal 10)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_ClosePipe(const char* machine, const char* instance,
                                                              const char* pipeName);
// Asks whether the link server knows terminal 0-255, waiting up to waitMs:
// 1 known; -6 not acknowledged or not sent; 0 the instance does not answer;
// -5 bad argument. For a legacy instance (waits 12000 ms): 1 known, -8 not.
// (ordinal 11)
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL QORLink_CheckTerminal2(const char* machine, const char* instance,
                                                                   int32_t terminal, int32_t waitMs);
