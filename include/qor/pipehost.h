#pragma once
// PipeHost: the link server's pipe plug-in. The link server loads
// PipeHost.dll and binds these exports by name; all of them are called on one
// thread, which also dispatches window messages.
#include <stdint.h>

#include "qor/callconv.h"

// Starts the plug-in under an instance name (null or "": the current one).
// 1 when running or another process already holds the name; 0 when the
// hidden window cannot be created.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Init(const char* name);
// Stops everything. Always 0.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Tini(void);
// Sleeps `milliseconds` between polls. Always 0.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Idle(uint32_t milliseconds);
// The next host request: its length (> 0) with *handle, *terminal and the
// text in buffer (at most size bytes); 0 none; -5 bad arguments; -11 the
// instance is held by another process.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_WaitData(void** handle, int32_t* terminal, int32_t reserved,
                                                          char* buffer, int32_t size);
// Exactly one verdict per handed-over request: 1, and *handle becomes null;
// -5 for a null handle.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Ack(void** handle);
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Nack(void** handle);
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Reject(void** handle);
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Busy(void** handle);
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_Timeout(void** handle);
// Terminal data for the hosts: `length` when queued for a host pipe; 0 when
// queueing failed; -5 bad arguments; -11 nothing took it for a pipe.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_STDCALL Pipe_WriteData(int32_t terminal, int32_t reserved, const char* packetType,
                                                           const char* data, int32_t length);
