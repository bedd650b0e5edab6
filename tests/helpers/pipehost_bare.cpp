// pipehost_bare <result-file> <instance>...: a bare link server. It loads
// PipeHost by name, calls Pipe_Init with each <instance> in turn, and then
// does nothing but poll Pipe_WaitData: it has no message pump of its own, so
// whatever hosts send to the plug-in's window is served by the plug-in's
// exports alone.
//
// After the first poll it writes "<Pipe_Init>... <Pipe_WaitData>" and a line
// feed to the result file. Its verdicts, for the requests handed over:
//   99|WD|<type>|<data>  Pipe_WriteData(7, 0, type, data): ACK when it queued
//                        the data for a pipe, NAK otherwise
//   99|QX|...            ACK, then Pipe_Tini and exit code 0
//   anything else        REJECT
// It gives up after 60 s (exit code 3).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "tests/support/raw_host.h"

using namespace qor;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  test::PipeHostModule pipe;
  if (!pipe.load()) return 3;

  std::string results;
  for (int i = 2; i < argc; ++i) results += std::to_string(pipe.init(argv[i])) + " ";

  void* handle = nullptr;
  std::int32_t terminal = 0;
  char buffer[1024];
  std::int32_t n = pipe.wait_data(&handle, &terminal, 0, buffer, sizeof buffer - 1);
  results += std::to_string(n) + "\n";
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 4;
  std::fputs(results.c_str(), out);
  if (std::fclose(out) != 0) return 4;

  std::uint32_t start = platform::tick_ms();
  while (platform::tick_ms() - start < 60000) {
    if (n > 0) {
      std::string text(buffer, static_cast<std::size_t>(n) < sizeof buffer - 1 ? n : sizeof buffer - 1);
      if (terminal == 99 && text.compare(0, 3, "QX|") == 0) {
        pipe.ack(&handle);
        pipe.tini();
        return 0;
      }
      if (terminal == 99 && text.compare(0, 3, "WD|") == 0) {
        std::size_t bar = text.find('|', 3);
        std::string type = text.substr(3, bar == std::string::npos ? std::string::npos : bar - 3);
        std::string data = bar == std::string::npos ? "" : text.substr(bar + 1);
        std::int32_t written =
            pipe.write_data(7, 0, type.c_str(), data.c_str(), static_cast<std::int32_t>(data.size()));
        (written > 0 ? pipe.ack : pipe.nack)(&handle);
      } else {
        pipe.reject(&handle);
      }
    }
    n = pipe.wait_data(&handle, &terminal, 0, buffer, sizeof buffer - 1);
  }
  return 3;
}
