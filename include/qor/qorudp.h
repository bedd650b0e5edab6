#pragma once
// QorUdp: the datagram transport driver that a link server loads by name.
//
// The three packet operations share one argument list of five positions
// (timeoutMs, port, address, length, buffer); each reads only the positions
// it needs and ignores the others. The exports use the caller-cleans calling
// convention (cdecl) and undecorated names.
#include <stdint.h>

#include "qor/callconv.h"

// Writes the version text "2.00.00-002" and its NUL (12 bytes); returns 0.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Version(char* buffer);

// Opens the bound socket on 0.0.0.0:port (low 16 bits) and the outbound
// socket. 1 on success, otherwise the socket error number of the failing
// step (never 0 or 1).
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Init(int32_t port);

// Closes both sockets; returns 1.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Tini(void);

// Never blocks. Takes one datagram, from the outbound socket first, then
// from the bound one; writes its sender's dotted-decimal address into
// `address` (16 bytes suffice). The datagram's size (0 for an empty one on
// the bound socket), or -1 when none is waiting or the receive failed (a
// datagram longer than `length` is dropped and gives -1).
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_WaitPacket(int32_t timeoutMs, int32_t port, char* address,
                                                            int32_t length, char* buffer);

// Sends `length` bytes of `buffer` from the outbound socket to `address`,
// "a.b.c.d" (to `port`) or "a.b.c.d:port" (the colon is overwritten with a
// NUL in the caller's text). 0 when the datagram was handed over, -1 on
// failure.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_SendPacket(int32_t timeoutMs, int32_t port, char* address,
                                                            int32_t length, char* buffer);

// Sends `length` bytes of `buffer` from the bound socket to the sender of
// the latest datagram received on it. 0 on success, else the socket error
// number.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorUdp_Reply(int32_t timeoutMs, int32_t port, char* address,
                                                       int32_t length, char* buffer);

typedef int32_t(QOR_CDECL* QorUdpVersionFn)(char* buffer);
typedef int32_t(QOR_CDECL* QorUdpInitFn)(int32_t port);
typedef int32_t(QOR_CDECL* QorUdpTiniFn)(void);
typedef int32_t(QOR_CDECL* QorUdpPacketFn)(int32_t timeoutMs, int32_t port, char* address, int32_t length,
                                           char* buffer);
