#include "linkserver/options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace qor::linkserver {

namespace {

bool starts_with_ignoring_case(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool parse_number(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  value = std::atoi(text.c_str());
  return true;
}

std::string base_name(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

Options parse_options(const std::string& program, const std::vector<std::string>& args) {
  Options options;
  options.legacy = starts_with_ignoring_case(base_name(program), "rivo63");
  std::string explicit_instance;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        options.error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string text;
    int n = 0;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      options.help = true;
    } else if (arg == "mini") {
      options.mini = true;
    } else if (arg == "-splash" || arg == "-max" || arg == "-min") {
      // Window modes of the legacy program: nothing to show here.
    } else if (arg.size() > 1 && arg[0] == '-' && parse_number(arg.substr(1), n)) {
      options.number = n;
    } else if (arg == "--instance") {
      if (!value(explicit_instance)) break;
    } else if (arg == "--for-it") {
      options.for_it = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--policy") {
      if (!value(text)) break;
      static const std::pair<const char*, Policy> names[] = {{"ack", Policy::ack},         {"nak", Policy::nak},
                                                             {"reject", Policy::reject},   {"busy", Policy::busy},
                                                             {"timeout", Policy::timeout}, {"none", Policy::none}};
      bool known = false;
      for (const auto& [name, policy] : names)
        if (text == name) {
          options.policy = policy;
          known = true;
        }
      if (!known) options.error = "unknown policy: " + text;
    } else if (arg == "--udp" || arg == "--tcp") {
      if (!value(text)) break;
      if (!parse_number(text, n) || n < 1 || n > 65535) {
        options.error = arg + " needs a port number 1-65535: " + text;
        break;
      }
      (arg == "--udp" ? options.udp_port : options.tcp_port) = n;
    } else if (arg == "--terminals") {
      if (!value(text)) break;
      std::size_t at = 0;
      while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!parse_number(item, n) || n > 255) {
          options.error = "terminal numbers are 0-255, separated by commas: " + text;
          break;
        }
        options.terminals.insert(n);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    } else {
      options.error = "unknown argument: " + arg;
    }
    if (!options.error.empty()) break;
  }
  if (!explicit_instance.empty()) {
    options.instance = explicit_instance;
  } else if (options.legacy) {
    options.instance = "Rivo63";
  } else if (options.number >= 0) {
    char name[32];
    std::snprintf(name, sizeof name, "QORLNK%02d", options.number);
    options.instance = name;
  } else {
    options.instance = "qorlink";
  }
  return options;
}

std::string main_window_title(const Options& options) {
  if (options.legacy) return "Rivo63";
  std::string title = options.for_it ? "QOR-Link for IT" : "QOR-Link";
  if (options.number >= 0) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, " (%02d)", options.number);
    title += suffix;
  }
  return title;
}

const char* usage_text() {
  return "Usage: qorlink [mini] [-N] [-splash [-max|-min]] [options]\n"
         "The stand-in link server: loads PipeHost.dll, serves host requests\n"
         "through it and gives every request exactly one verdict.\n"
         "\n"
         "Switches as QorLink starts it:\n"
         "  -N              instance QORLNK<N> (two digits at least: -7 is QORLNK07),\n"
         "                  main window \"QOR-Link (NN)\"\n"
         "  mini, -splash, -max, -min\n"
         "                  window modes; accepted, nothing is shown\n"
         "  Without -N the instance is \"qorlink\"; started as Rivo63 it is \"Rivo63\".\n"
         "\n"
         "Options:\n"
         "  --instance NAME   run under this instance name instead\n"
         "  --for-it          main window \"QOR-Link for IT\"\n"
         "  --terminals LIST  known terminals, e.g. 1,5,12: \"CT|n\" gets ACK for these and\n"
         "                    for every terminal heard from, NAK otherwise\n"
         "  --policy P        verdict for requests it cannot settle (data for a terminal\n"
         "                    never heard from, CreatePipe, DestroyPipe, unknown\n"
         "                    commands): ack (default), nak, reject, busy,\n"
         "                    timeout, or none (never answer; PipeHost then answers\n"
         "                    pipe clients SYN NAK after 5 s)\n"
         "  --udp PORT        take terminal frames over UDP on PORT (QorUdp.dll)\n"
         "  --tcp PORT        take terminal frames over TCP on PORT (QorTcp.dll)\n"
         "  --trace           print a line for every request, verdict and terminal frame\n"
         "  --help            this text\n"
         "\n"
         "It ends when its main window is asked to close, or on the host-level\n"
         "request \"QX\" (e.g. 99|QX|1).\n";
}

}  // namespace qor::linkserver
