// pipehost_peer <instance> <result-file>: a second link server process. It
// loads PipeHost by name, starts it under <instance>, polls it once each way
// and writes "<Pipe_Init> <Pipe_WaitData> <Pipe_WriteData> <own window>" to
// the result file (own window: 1 when a window titled <instance> belongs to
// this process).
#include <cstdio>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/window.h"
#include "qor/pipehost.h"

using namespace qor::platform;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  ModuleHandle module = load_module("PipeHost.dll");
  auto init = reinterpret_cast<decltype(&Pipe_Init)>(find_symbol(module, "Pipe_Init"));
  auto tini = reinterpret_cast<decltype(&Pipe_Tini)>(find_symbol(module, "Pipe_Tini"));
  auto wait_data = reinterpret_cast<decltype(&Pipe_WaitData)>(find_symbol(module, "Pipe_WaitData"));
  auto write_data = reinterpret_cast<decltype(&Pipe_WriteData)>(find_symbol(module, "Pipe_WriteData"));
  if (!init || !tini || !wait_data || !write_data) return 3;

  int initialised = init(argv[1]);
  void* handle = nullptr;
  std::int32_t terminal = 0;
  char buffer[64];
  int waited = wait_data(&handle, &terminal, 0, buffer, sizeof buffer);
  int written = write_data(5, 0, "ORD", "X", 1);
  WindowHandle window = find_window(argv[1]);
  int own = window && window_process_id(window) == current_process_id() ? 1 : 0;
  tini();

  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 4;
  std::fprintf(out, "%d %d %d %d", initialised, waited, written, own);
  return std::fclose(out) == 0 ? 0 : 4;
}
