#pragma once
// QorTcp: the stream transport driver that a link server loads by name.
//
// It listens on one port and keeps one terminal connection at a time (a newer
// connection replaces the older one). Every packet travels as one frame: a
// 4-byte length word, least significant byte first (bits 0-30 the payload
// size, bit 31 sent as 0 and ignored on receipt), then the payload.
//
// The packet operations take the same five positions as QorUdp's (see
// qor/qorudp.h); the exports are cdecl with undecorated names.
#include <stdint.h>

#include "qor/callconv.h"

// This driver has no version text: the buffer is left untouched; returns 0.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Version(char* buffer);

// Listens on 0.0.0.0:port (low 16 bits) and starts the accept thread.
// 1 on success, 0 on failure.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Init(int32_t port);

// Stops listening, ends the accept thread and closes the connection;
// returns 0.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Tini(void);

// Waits at most `timeoutMs` for one packet of the current connection. The
// number of payload bytes placed in `buffer` (a longer packet is cut to
// `length` and its rest dropped), with the peer's address copied into
// `address` (may be null); 0 when no packet was delivered (no connection,
// time-out, an empty frame, the peer closed); -1 when the receive failed.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_WaitPacket(int32_t timeoutMs, int32_t port, char* address,
                                                            int32_t length, char* buffer);

// Sends `length` bytes of `buffer` as one frame on the current connection.
// 0 when the whole frame was sent, -1 otherwise.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_SendPacket(int32_t timeoutMs, int32_t port, char* address,
                                                            int32_t length, char* buffer);

// The same as QorTcp_SendPacket: the answer goes to the current connection.
QOR_EXTERN_C QOR_EXPORT int32_t QOR_CDECL QorTcp_Reply(int32_t timeoutMs, int32_t port, char* address,
                                                       int32_t length, char* buffer);

typedef int32_t(QOR_CDECL* QorTcpVersionFn)(char* buffer);
typedef int32_t(QOR_CDECL* QorTcpInitFn)(int32_t port);
typedef int32_t(QOR_CDECL* QorTcpTiniFn)(void);
typedef int32_t(QOR_CDECL* QorTcpPacketFn)(int32_t timeoutMs, int32_t port, char* address, int32_t length,
                                           char* buffer);
