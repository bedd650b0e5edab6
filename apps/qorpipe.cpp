// qorpipe: speaks the pipe protocol by hand, for trying a link server out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/named_pipe.h"
#include "platform/window.h"
#include "link/blocks.h"

using namespace qor::platform;

namespace {

const char* usage =
    "Usage:\n"
    "  qorpipe request MACHINE PIPE TEXT   send SYN+TEXT on a pipe, print the verdict\n"
    "  qorpipe poll MACHINE PIPE [MS]      poll a data pipe with ENQ for up to MS ms\n"
    "                                      (default 2000), print the message, send ACK\n"
    "  qorpipe data WINDOW TERMINAL TYPE DATA\n"
    "                                      hand terminal data to the server window\n"
    "                                      WINDOW (the instance name) as a data block,\n"
    "                                      as any local program may\n"
    "MACHINE is \".\" for this machine. Exit code 0 on ACK, a message or data a host\n"
    "pipe took, 1 otherwise,\n"
    "2 for a bad command line.\n";

std::string path_of(const std::string& machine, const std::string& pipe) { return "\\\\" + machine + "\\PIPE\\" + pipe; }

const char* verdict_name(unsigned char byte) {
  switch (byte) {
    case 6: return "ACK";
    case 7: return "REJECT";
    case 8: return "BUSY";
    case 9: return "TIMEOUT";
    case 21: return "NAK";
    default: return "?";
  }
}

int request(const std::string& path, const std::string& text) {
  auto client = PipeClient::open(path);
  if (!client) {
    std::fprintf(stderr, "qorpipe: cannot open %s\n", path.c_str());
    return 1;
  }
  std::string message = "\x16" + text;
  char reply[16];
  if (!client->write_message(message.data(), message.size())) return 1;
  auto n = client->read(reply, sizeof reply);
  if (!n || *n == 0) {
    std::fprintf(stderr, "qorpipe: no reply\n");
    return 1;
  }
  unsigned char verdict = static_cast<unsigned char>(*n >= 2 && reply[0] == 0x16 ? reply[1] : reply[0]);
  std::printf("%s\n", verdict_name(verdict));
  return verdict == 6 ? 0 : 1;
}

int poll(const std::string& path, std::uint32_t ms) {
  auto client = PipeClient::open(path);
  if (!client) {
    std::fprintf(stderr, "qorpipe: cannot open %s\n", path.c_str());
    return 1;
  }
  std::uint32_t start = tick_ms();
  do {
    auto waiting = client->peek();
    if (!waiting) return 1;
    if (waiting->total > 0) {
      char buffer[10240];
      auto n = client->read(buffer, sizeof buffer - 1);
      if (!n) return 1;
      std::printf("%.*s\n", static_cast<int>(*n), buffer);
      client->write_message("\x06", 1);
      return 0;
    }
    if (!client->write_message("\x05", 1)) return 1;
    sleep_ms(10);
  } while (tick_ms() - start < ms);
  std::fprintf(stderr, "qorpipe: nothing arrived within %u ms\n", static_cast<unsigned>(ms));
  return 1;
}

// The 1092-byte data block, sent to the server window with a copy-data
// message: PipeHost queues the data for the hosts' pipes like terminal data.
int data(const std::string& window_title, const char* terminal, const std::string& type, const std::string& text) {
  char* end = nullptr;
  long number = std::strtol(terminal, &end, 10);
  qor::link::DataBytes bytes;
  if (*end != '\0' || !qor::link::encode_data_block({static_cast<std::int32_t>(number), type, text}, bytes)) {
    std::fprintf(stderr, "qorpipe: the terminal must be a number, type and data short texts\n");
    return 2;
  }
  WindowHandle window = find_window(window_title);
  if (window == no_window) {
    std::fprintf(stderr, "qorpipe: no window titled %s\n", window_title.c_str());
    return 1;
  }
  auto taken = send_data(window, msg_copydata, 0, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  std::printf("%s\n", taken && *taken ? "taken by a host pipe" : "not taken");
  return taken && *taken ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc == 6 && !std::strcmp(argv[1], "data")) return data(argv[2], argv[3], argv[4], argv[5]);
  if (argc == 5 && !std::strcmp(argv[1], "request")) return request(path_of(argv[2], argv[3]), argv[4]);
  if ((argc == 4 || argc == 5) && !std::strcmp(argv[1], "poll")) {
    long ms = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 2000;
    if (ms <= 0) {
      std::fputs(usage, stderr);
      return 2;
    }
    return poll(path_of(argv[2], argv[3]), static_cast<std::uint32_t>(ms));
  }
  std::fputs(usage, stderr);
  return 2;
}
