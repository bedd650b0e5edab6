#include "linkserver/term_options.h"

#include "linkserver/terminal_frame.h"

namespace qor::linkserver {

namespace {

// A whole decimal number within [low, high].
bool number(const std::string& text, long low, long high, long* value) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

}  // namespace

TermOptions parse_term_options(const std::vector<std::string>& args) {
  TermOptions options;
  TermConfig& config = options.config;
  std::string type = "TXT";
  std::vector<std::string> packets;
  bool have_port = false;
  for (std::size_t i = 0; i < args.size() && options.error.empty(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](long low, long high, long* out) {
      if (i + 1 >= args.size() || !number(args[i + 1], low, high, out)) {
        options.error = arg + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
      }
      ++i;
      return true;
    };
    long v = 0;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      options.help = true;
    } else if (arg == "--udp") {
      config.transport = Transport::udp;
    } else if (arg == "--tcp") {
      config.transport = Transport::tcp;
    } else if (arg == "--host") {
      if (i + 1 >= args.size() || !platform::parse_ipv4(args[i + 1], &config.server.address))
        options.error = "--host needs a dotted-decimal IPv4 address";
      else
        ++i;
    } else if (arg == "--port") {
      if (value(1, 65535, &v)) config.server.port = static_cast<std::uint16_t>(v), have_port = true;
    } else if (arg == "--terminal") {
      if (value(0, max_terminal, &v)) config.first_terminal = static_cast<int>(v);
    } else if (arg == "--terminals") {
      if (value(1, 1000, &v)) config.terminals = static_cast<int>(v);
    } else if (arg == "--repeat") {
      if (value(1, 10000000, &v)) config.repeat = static_cast<int>(v);
    } else if (arg == "--keepalive") {
      if (value(0, 86400000, &v)) config.keepalive_ms = static_cast<std::uint32_t>(v);
    } else if (arg == "--wait") {
      if (value(0, 86400000, &v)) config.wait_ms = static_cast<std::uint32_t>(v);
    } else if (arg == "--linger") {
      if (value(0, 86400000, &v)) config.linger_ms = static_cast<std::uint32_t>(v);
    } else if (arg == "--answers") {
      if (value(0, 10000000, &v)) config.answers = static_cast<int>(v);
    } else if (arg == "--type") {
      if (i + 1 >= args.size())
        options.error = "--type needs a packet type";
      else
        type = args[++i];
    } else if (arg == "--quiet" || arg == "-q") {
      options.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      options.error = "unknown option " + arg;
    } else {
      packets.push_back(arg);
    }
  }
  if (options.help || !options.error.empty()) return options;
  if (!have_port) {
    options.error = "--port is missing";
    return options;
  }
  // "TYPE|DATA", or DATA of the --type given before or after it.
  for (const std::string& p : packets) {
    std::size_t bar = p.find('|');
    TermPacket packet = bar == std::string::npos ? TermPacket{type, p} : TermPacket{p.substr(0, bar), p.substr(bar + 1)};
    if (!encode_frame(TerminalFrame{0, 0, code_data, packet.type, packet.data})) {
      options.error = "packet \"" + p + "\" does not fit a frame (type up to 16 bytes without \"|\", data up to " +
                      std::to_string(max_data_size) + " bytes, neither with STX or ETX)";
      return options;
    }
    config.packets.push_back(packet);
  }
  return options;
}

const char* term_usage_text() {
  return "Usage: qorterm --port N [options] [TYPE|DATA | DATA]...\n"
         "Simulates terminals that speak the terminal protocol to a link server.\n"
         "Every packet on the command line is sent as a data frame (DA); what comes\n"
         "back is printed, and each data frame waits for its acknowledgement.\n"
         "\n"
         "  --udp              datagrams, one frame each (the default)\n"
         "  --tcp              a TCP connection, one length-prefixed frame per packet\n"
         "  --host A.B.C.D     the link server's address (default 127.0.0.1)\n"
         "  --port N           the link server's port\n"
         "  --terminal N       terminal number, 0-999 (default 1)\n"
         "  --terminals K      simulate K terminals at once, numbered from --terminal on,\n"
         "                     each with its own socket; prints a summary\n"
         "  --repeat R         send the packets R times per terminal (default 1)\n"
         "  --type T           packet type of a packet given without \"|\" (default TXT)\n"
         "  --keepalive MS     send a keep-alive frame (KA) every MS milliseconds\n"
         "  --wait MS          how long to wait for each acknowledgement (default 2000)\n"
         "  --linger MS        keep listening this long after the last packet (default 0)\n"
         "  --answers N        each terminal expects N frames of host data (AN) while it\n"
         "                     lingers; it stops listening once they are in\n"
         "  --quiet, -q        no line per frame, only the summary\n"
         "  --help             this text\n"
         "\n"
         "A UDP terminal first sends a keep-alive that tells the link server its\n"
         "port; every keep-alive carries it.\n"
         "\n"
         "Exit code: 0 when every data frame was acknowledged (and, with --answers,\n"
         "every terminal got its answers), 1 when not, 2 for a command line that was\n"
         "not understood.\n";
}

}  // namespace qor::linkserver
