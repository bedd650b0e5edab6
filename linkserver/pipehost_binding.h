#pragma once
// PipeHost.dll loaded by name, its exports bound by name.
#include <string>

#include "qor/pipehost.h"

namespace qor::linkserver {

struct PipeHostExports {
  decltype(&Pipe_Init) init = nullptr;
  decltype(&Pipe_Tini) tini = nullptr;
  decltype(&Pipe_Idle) idle = nullptr;
  decltype(&Pipe_WaitData) wait_data = nullptr;
  decltype(&Pipe_Ack) ack = nullptr;
  decltype(&Pipe_Nack) nack = nullptr;
  decltype(&Pipe_Reject) reject = nullptr;
  decltype(&Pipe_Busy) busy = nullptr;
  decltype(&Pipe_Timeout) timeout = nullptr;
  decltype(&Pipe_WriteData) write_data = nullptr;
};

// Loads PipeHost.dll and binds all ten exports. Empty text on success, else
// what went wrong.
std::string bind_pipehost(PipeHostExports& exports);

}  // namespace qor::linkserver
