#pragma once
// Dispatch entries: where terminal data goes (a host's data pipe or a data
// file), built from the DISPATCHER section, with the host programs they
// start.
#include <mutex>
#include <string>
#include <vector>

#include "platform/message.h"

namespace qor::pipehost {

class CNamedPipeCommand;
struct PluginState;

class CDispatcher {
 public:
  CDispatcher() = default;
  // Stops the programs started for the entry (and the "Rivo63 - DR" window).
  ~CDispatcher();
  CDispatcher(const CDispatcher&) = delete;
  CDispatcher& operator=(const CDispatcher&) = delete;

  // True when `packets` contains the packet type and `terminals` contains
  // the terminal's three-digit code or "000" (both tests by substring).
  bool accepts(const std::string& packetType, int terminal) const;

  // Empties the texts (re-targeting): the entry then matches nothing.
  void clear_texts();

  std::string terminals;
  std::string packets;
  std::string filePath;
  std::string pipeName;
  std::string program;
  int instances = 0;
  std::string arguments;
  CNamedPipeCommand* endpoint = nullptr;  // owned by the endpoint registry
  std::vector<platform::ThreadId> startedThreads;
  int openCount = 0;
  bool persistent = false;
  std::mutex lock;  // guards openCount and the data file
};

// Builds the entries from the DISPATCHER section of the configuration file.
// With `reset`, first destroys every entry and every endpoint but the answer
// and monitor endpoints.
void LoadDispatchers(PluginState& state, bool reset);

// The OpenPipe and ClosePipe requests of hosts.
bool OpenDataPipe(PluginState& state, const std::string& name);
bool CloseDataPipe(PluginState& state, const std::string& name);

}  // namespace qor::pipehost
