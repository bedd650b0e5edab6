#pragma once
// Calling conventions and export marking of the C boundaries.
// On win32 the .def file of each module names its exports; natively the
// symbol is made visible here.

#ifdef _WIN32
#define QOR_STDCALL __stdcall
#define QOR_CDECL __cdecl
#define QOR_EXPORT
#else
#define QOR_STDCALL
#define QOR_CDECL
#define QOR_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define QOR_EXTERN_C extern "C"
#else
#define QOR_EXTERN_C
#endif
