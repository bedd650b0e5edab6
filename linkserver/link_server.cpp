#include "linkserver/link_server.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/message.h"
#include "platform/thread_queue.h"
#include "platform/window.h"

namespace qor::linkserver {

namespace {

// At most this many packets per driver and turn, so that hosts are served
// between bursts of terminal traffic.
constexpr int packets_per_turn = 64;

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

const char* verdict_name(int verdict) {
  static const char* names[] = {"ACK", "NAK", "REJECT", "BUSY", "TIMEOUT", "none"};
  return names[verdict];
}

// Printable form of a text for the trace.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

const char* link_name(Link link) { return link == Link::udp ? "udp" : "tcp"; }

}  // namespace

LinkServer::LinkServer(const Options& options, const PipeHostExports& pipe, int host_id, TransportDriver* udp,
                       TransportDriver* tcp)
    : options_(options), pipe_(pipe), host_id_(host_id), udp_(udp), tcp_(tcp), buffer_(max_frame_size + 64) {}

void LinkServer::run() {
  while (!stopping_) {
    pump();
    poll_hosts();
    poll_terminals();
    pipe_.idle(1);
  }
}

void LinkServer::pump() {
  platform::Message message;
  while (platform::peek_message(message, true)) {
    if (message.id == platform::msg_quit) {
      stopping_ = true;
      return;
    }
    platform::dispatch_message(message);
  }
}

void LinkServer::poll_hosts() {
  void* handle = nullptr;
  std::int32_t terminal = 0;
  std::int32_t size = static_cast<std::int32_t>(buffer_.size() - 1);
  std::int32_t n = pipe_.wait_data(&handle, &terminal, 0, buffer_.data(), size);
  if (n > 0) answer(handle, terminal, std::string(buffer_.data(), static_cast<std::size_t>(std::min(n, size))));
}

void LinkServer::poll_terminals() {
  char address[128];
  std::int32_t size = static_cast<std::int32_t>(buffer_.size());
  if (udp_) {
    for (int i = 0; i < packets_per_turn; ++i) {
      address[0] = '\0';
      std::int32_t n = udp_->wait_packet(0, 0, address, size, buffer_.data());
      if (n < 0) break;
      on_packet(Link::udp, address, buffer_.data(), static_cast<std::size_t>(n));
    }
  }
  if (tcp_) {
    for (int i = 0; i < packets_per_turn; ++i) {
      address[0] = '\0';
      std::int32_t n = tcp_->wait_packet(0, 0, address, size, buffer_.data());
      if (n <= 0) break;
      on_packet(Link::tcp, address, buffer_.data(), static_cast<std::size_t>(n));
    }
  }
}

// One datagram or TCP packet: the whole frames in it, in order; what is not
// a frame is dropped.
void LinkServer::on_packet(Link link, const std::string& address, const char* bytes, std::size_t size) {
  std::string_view rest(bytes, size);
  while (!rest.empty()) {
    FrameSpan span = find_frame(rest);
    if (span.size == 0) {
      if (!rest.empty()) trace("terminal frame from %s %s: %zu bytes that are no frame", link_name(link),
                               address.c_str(), rest.size());
      return;
    }
    if (span.discard) trace("terminal frame from %s %s: %zu bytes dropped", link_name(link), address.c_str(), span.discard);
    if (auto frame = decode_frame(rest.substr(span.discard, span.size))) on_frame(link, address, *frame);
    rest.remove_prefix(span.discard + span.size);
  }
}

void LinkServer::on_frame(Link link, const std::string& address, const TerminalFrame& frame) {
  std::uint32_t now = platform::tick_ms();
  if (frame.code == code_keep_alive) {
    // A keep-alive carries the UDP port the terminal takes host data on.
    terminals_.seen(frame.terminal, link, address, std::atoi(frame.data.c_str()), now);
    trace("terminal %d %s %s: keep-alive", frame.terminal, link_name(link), address.c_str());
    reply(link, TerminalFrame{frame.terminal, frame.sequence, code_ack, "", "1"});
    return;
  }
  if (frame.code != code_data) {
    trace("terminal %d %s %s: code %s refused", frame.terminal, link_name(link), address.c_str(), frame.code.c_str());
    return;
  }
  terminals_.seen(frame.terminal, link, address, 0, now);
  std::int32_t result = frame.terminal > 255
                            ? -5  // hosts know terminals 0-255 only
                            : pipe_.write_data(frame.terminal, 0, frame.type.c_str(), frame.data.c_str(),
                                               static_cast<std::int32_t>(frame.data.size()));
  trace("terminal %d %s %s: %s \"%s\" -> Pipe_WriteData %d", frame.terminal, link_name(link), address.c_str(),
        frame.type.c_str(), shown(frame.data).c_str(), static_cast<int>(result));
  // The acknowledgement tells the terminal whether a host pipe took it.
  reply(link, TerminalFrame{frame.terminal, frame.sequence, code_ack, "", std::to_string(result)});
}

void LinkServer::reply(Link link, const TerminalFrame& frame) {
  std::optional<std::string> bytes = encode_frame(frame);
  TransportDriver* driver = link == Link::udp ? udp_ : tcp_;
  if (!bytes || !driver) return;
  driver->reply(0, 0, nullptr, static_cast<std::int32_t>(bytes->size()), bytes->data());
}

bool LinkServer::send_frame(const Terminal& to, const TerminalFrame& frame) {
  std::optional<std::string> bytes = encode_frame(frame);
  if (!bytes) return false;
  if (to.link == Link::tcp) {
    return tcp_ && tcp_->send_packet(0, 0, nullptr, static_cast<std::int32_t>(bytes->size()), bytes->data()) == 0;
  }
  if (!udp_ || to.port <= 0) return false;
  char destination[64];
  std::snprintf(destination, sizeof destination, "%s:%d", to.address.c_str(), to.port);
  return udp_->send_packet(0, 0, destination, static_cast<std::int32_t>(bytes->size()), bytes->data()) == 0;
}

// Host data for a terminal: "<type>|<data>", the type being the host's pipe
// name. It goes to the terminal as an AN frame over the transport that last
// reached it.
LinkServer::Verdict LinkServer::send_to_terminal(int terminal, const std::string& text) {
  const Terminal* to = terminals_.find(terminal);
  if (!to) return from_policy();  // never heard from: the configured verdict
  std::size_t bar = text.find('|');
  TerminalFrame frame;
  frame.terminal = terminal;
  frame.sequence = sequence_ = (sequence_ + 1) % (max_sequence + 1);
  frame.code = code_answer;
  frame.type = bar == std::string::npos ? "" : text.substr(0, bar);
  frame.data = bar == std::string::npos ? text : text.substr(bar + 1);
  return send_frame(*to, frame) ? Verdict::ack : Verdict::nak;
}

LinkServer::Verdict LinkServer::from_policy() const {
  switch (options_.policy) {
    case Policy::ack: return Verdict::ack;
    case Policy::nak: return Verdict::nak;
    case Policy::reject: return Verdict::reject;
    case Policy::busy: return Verdict::busy;
    case Policy::timeout: return Verdict::timeout;
    case Policy::none: return Verdict::none;
  }
  return Verdict::none;
}

void LinkServer::answer(void* handle, std::int32_t terminal, const std::string& text) {
  Verdict verdict;
  if (terminal == host_id_ && starts_with(text, "CT|")) {
    int asked = std::atoi(text.c_str() + 3);
    bool known = options_.terminals.count(asked) || terminals_.find(asked);
    verdict = known ? Verdict::ack : Verdict::nak;
  } else if (terminal == host_id_ && (text == "QX" || starts_with(text, "QX|"))) {
    verdict = Verdict::ack;
    stopping_ = true;
  } else if (terminal == host_id_ && (starts_with(text, "TF|") || starts_with(text, "FR|") || starts_with(text, "RS|"))) {
    verdict = Verdict::reject;  // the stand-in moves no files and runs no scripts
  } else if (starts_with(text, "CreatePipe") || starts_with(text, "DestroyPipe") || terminal == host_id_) {
    verdict = from_policy();
  } else {
    verdict = send_to_terminal(terminal, text);
  }
  trace("request terminal %d \"%s\" -> %s", static_cast<int>(terminal), shown(text).c_str(),
        verdict_name(static_cast<int>(verdict)));
  give(handle, verdict);
}

void LinkServer::give(void* handle, Verdict verdict) {
  switch (verdict) {
    case Verdict::ack: pipe_.ack(&handle); break;
    case Verdict::nak: pipe_.nack(&handle); break;
    case Verdict::reject: pipe_.reject(&handle); break;
    case Verdict::busy: pipe_.busy(&handle); break;
    case Verdict::timeout: pipe_.timeout(&handle); break;
    case Verdict::none: unanswered_.push_back(handle); break;  // kept: exactly one verdict, at the end
  }
}

void LinkServer::settle_unanswered() {
  for (void* handle : unanswered_) pipe_.nack(&handle);
  unanswered_.clear();
}

void LinkServer::trace(const char* format, ...) {
  if (!options_.trace) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace qor::linkserver
