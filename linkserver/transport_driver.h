#pragma once
// A transport driver (QorUdp.dll, QorTcp.dll) loaded by name, its six
// exports bound by name. Both drivers share one argument list of five
// positions for their packet operations, so the link server treats them
// alike.
#include <cstdint>
#include <string>

#include "qor/callconv.h"

namespace qor::linkserver {

class TransportDriver {
 public:
  using VersionFn = std::int32_t(QOR_CDECL*)(char* buffer);
  using InitFn = std::int32_t(QOR_CDECL*)(std::int32_t port);
  using TiniFn = std::int32_t(QOR_CDECL*)(void);
  using PacketFn = std::int32_t(QOR_CDECL*)(std::int32_t timeout_ms, std::int32_t port, char* address,
                                            std::int32_t length, char* buffer);

  // `prefix` is "QorUdp" or "QorTcp": the module "<prefix>.dll" and the
  // exports "<prefix>_Init" and so on. Empty error() when all is bound.
  explicit TransportDriver(const std::string& prefix);

  const std::string& error() const { return error_; }
  const std::string& name() const { return prefix_; }

  VersionFn version = nullptr;
  InitFn init = nullptr;
  TiniFn tini = nullptr;
  PacketFn wait_packet = nullptr;
  PacketFn send_packet = nullptr;
  PacketFn reply = nullptr;

 private:
  std::string prefix_;
  std::string error_;
};

}  // namespace qor::linkserver
