#pragma once
// The stand-in link server's command line: the switches QorLink starts it
// with, and a few of our own for tests and demos.
#include <set>
#include <string>
#include <vector>

namespace qor::linkserver {

// What the link server answers a request that it does not settle itself.
enum class Policy { ack, nak, reject, busy, timeout, none };

struct Options {
  std::string instance;      // the instance PipeHost runs under
  int number = -1;           // from "-N": numbered window titles; -1 none
  bool legacy = false;       // started as Rivo63
  bool mini = false;         // " mini": start minimised (no visible effect here)
  bool for_it = false;       // main window "QOR-Link for IT"
  Policy policy = Policy::ack;
  std::set<int> terminals;   // known terminals: "CT|n" is acknowledged for these
  int udp_port = 0;          // QorUdp's port; 0: the driver is not started
  int tcp_port = 0;          // QorTcp's port; 0: the driver is not started
  bool trace = false;        // one line on standard output per request and verdict
  bool help = false;
  std::string error;         // not empty: the command line was not understood
};

// Reads the arguments after the program name. `program` is the name the
// program runs under: one starting with "Rivo63" (any case) is the legacy
// instance.
Options parse_options(const std::string& program, const std::vector<std::string>& args);

// "QOR-Link", "QOR-Link (07)", "QOR-Link for IT (07)", or "Rivo63".
std::string main_window_title(const Options& options);

const char* usage_text();

}  // namespace qor::linkserver
