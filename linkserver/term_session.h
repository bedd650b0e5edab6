#pragma once
// Simulated terminals for qorterm: each with its own socket and terminal
// number, speaking the terminal protocol (linkserver/terminal_frame.h) over
// UDP (one frame per datagram) or TCP (one frame per length-prefixed packet,
// as the stream driver frames them).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace qor::linkserver {

enum class Transport { udp, tcp };

struct TermPacket {
  std::string type;
  std::string data;
};

struct TermConfig {
  Transport transport = Transport::udp;
  platform::Endpoint server{platform::loopback_address, 0};
  int first_terminal = 1;
  int terminals = 1;
  int repeat = 1;
  std::vector<TermPacket> packets;
  std::uint32_t keepalive_ms = 0;  // 0: none
  std::uint32_t wait_ms = 2000;    // for the acknowledgement of each packet
  std::uint32_t linger_ms = 0;     // listening after the last packet
  int answers = 0;                 // host answers (AN) each terminal waits for
  // After each data frame's acknowledgement, wait (up to wait_ms) for a host
  // answer too before the next packet: one order outstanding per terminal.
  bool answer_each = false;
  // A data frame not acknowledged within wait_ms goes again with the same
  // sequence number, at most this many times; a UDP terminal then also waits
  // for the acknowledgement of its first keep-alive (sent again the same way).
  int resends = 0;
};

struct TermReport {
  int terminals = 0;
  int failed = 0;          // terminals whose socket could not be opened or connected
  long sent = 0;           // data frames
  long keepalives = 0;
  long resent = 0;         // frames sent again for want of an acknowledgement
  long acknowledged = 0;   // data frames answered (AK or AN of the same sequence)
  long received = 0;       // well-formed frames of any code
  long answers = 0;        // host data frames (AN) received
  int short_of_answers = 0;  // terminals that got fewer answers than asked for
  long unreadable = 0;     // packets that were no frame
  std::vector<double> round_trip_us;  // per acknowledged data frame
  // Per host answer that found a data frame still unanswered: from sending
  // that frame to the answer's arrival. An answer carries the link server's
  // own sequence number, not the frame's, so a terminal's answers are taken
  // to come in the order of its data frames: each belongs to the oldest one
  // not answered yet. Answers beyond the data frames sent are not timed.
  std::vector<double> answer_us;

  void add(const TermReport& other);
};

// One line per frame sent or received ("-> ..." / "<- ..."), or null for none.
using TermPrinter = std::function<void(const std::string& line)>;

// Runs every terminal of the configuration, each on its own thread, and
// gathers their figures.
TermReport run_terminals(const TermConfig& config, const TermPrinter& print);

// "001 00007 DA ORD|data" with bytes outside printable ASCII as \xNN.
std::string describe_frame(const std::string& bytes);

}  // namespace qor::linkserver
