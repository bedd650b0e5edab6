#pragma once
// The plug-in's operations behind its exports. All run on the link server's
// thread that called Pipe_Init (or the first export), which also serves the
// hidden window's messages.
#include <cstdint>
#include <string>

namespace qor::pipehost {

struct PluginState;

// Lifecycle.
std::int32_t PipeInit(PluginState& state, const char* name);
std::int32_t PipeTini(PluginState& state);
std::int32_t PipeIdle(std::uint32_t milliseconds);

// Host requests and the link server's verdicts.
std::int32_t PipeWaitData(PluginState& state, void** handle, std::int32_t* terminal, std::int32_t reserved,
                          char* buffer, std::int32_t size);
std::int32_t PipeVerdict(void** handle, std::uint8_t verdict);

// Terminal data for the hosts.
std::int32_t PipeWriteData(PluginState& state, std::int32_t terminal, std::int32_t reserved, const char* packetType,
                           const char* data, std::int32_t length);

// Ensures this copy owns the instance's hidden window (or leaves it inert
// when another process holds the name): Pipe_Init with no name.
std::int32_t EnsureWindow(PluginState& state);

// True when a window titled with the instance name exists that is not this
// process's own: another process holds the instance.
bool InstanceHeldElsewhere(const PluginState& state);

// The window transport, called from the hidden window's handler.
std::uint32_t HandleRequestBlock(PluginState& state, std::uint32_t client_thread, const void* block,
                                 std::uint32_t size);
std::uint32_t HandleDataBlock(PluginState& state, const void* block, std::uint32_t size);
void HandleReadRequest(PluginState& state, std::uint32_t client_thread, const std::string& name);

}  // namespace qor::pipehost
