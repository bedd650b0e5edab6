#include "linkserver/term_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "linkserver/terminal_frame.h"
#include "platform/clock.h"
#include "transports/tcp/frame_reader.h"

namespace qor::linkserver {

using platform::SocketHandle;

void TermReport::add(const TermReport& other) {
  terminals += other.terminals;
  failed += other.failed;
  sent += other.sent;
  keepalives += other.keepalives;
  resent += other.resent;
  acknowledged += other.acknowledged;
  received += other.received;
  answers += other.answers;
  short_of_answers += other.short_of_answers;
  unreadable += other.unreadable;
  round_trip_us.insert(round_trip_us.end(), other.round_trip_us.begin(), other.round_trip_us.end());
  answer_us.insert(answer_us.end(), other.answer_us.begin(), other.answer_us.end());
}

std::string describe_frame(const std::string& bytes) {
  auto printable = [](const std::string& text) {
    std::string out;
    static const char hex[] = "0123456789ABCDEF";
    for (char c : text) {
      auto b = static_cast<unsigned char>(c);
      if (b >= 0x20 && b < 0x7F && b != '\\') {
        out += c;
      } else {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 0xF];
      }
    }
    return out;
  };
  std::optional<TerminalFrame> frame = decode_frame(bytes);
  if (!frame) return "(no frame) " + printable(bytes);
  char head[32];
  std::snprintf(head, sizeof head, "%03d %05d %s ", frame->terminal, frame->sequence, frame->code.c_str());
  return head + printable(frame->type) + "|" + printable(frame->data);
}

namespace {

// One terminal's connection to the link server.
class Link {
 public:
  Link(Transport transport, platform::Endpoint server) : transport_(transport), server_(server) {}
  ~Link() {
    if (socket_ != platform::invalid_socket) platform::close_socket(socket_);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  bool open() {
    socket_ = platform::open_socket(transport_ == Transport::tcp ? platform::SocketKind::stream
                                                                 : platform::SocketKind::datagram);
    if (socket_ == platform::invalid_socket) return false;
    if (transport_ == Transport::tcp) return platform::connect_socket(socket_, server_);
    // Bound at once, so the port can be told to the link server before the
    // first data frame: host data comes back to it.
    return platform::bind_socket(socket_, platform::Endpoint{platform::any_address, 0}) &&
           platform::local_endpoint(socket_, &local_);
  }

  // The UDP port this terminal takes datagrams on (0 over TCP).
  int local_port() const { return transport_ == Transport::udp ? local_.port : 0; }

  bool send(const std::string& bytes) {
    if (transport_ == Transport::udp)
      return platform::send_to(socket_, bytes.data(), static_cast<int>(bytes.size()), server_) >= 0;
    std::string packet(transports::tcp::length_word_size, '\0');
    transports::tcp::put_length_word(static_cast<std::uint32_t>(bytes.size()),
                                     reinterpret_cast<unsigned char*>(&packet[0]));
    packet += bytes;
    std::size_t at = 0;
    while (at < packet.size()) {
      int n = platform::send_bytes(socket_, packet.data() + at, static_cast<int>(packet.size() - at));
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The next packet within `timeout_ms`; nothing on time-out or when the
  // connection has ended (then `*ended` is set).
  std::optional<std::string> receive(std::uint32_t timeout_ms, bool* ended) {
    std::uint32_t start = platform::tick_ms();
    for (;;) {
      std::uint32_t spent = platform::tick_ms() - start;
      if (platform::wait_readable(socket_, spent >= timeout_ms ? 0 : timeout_ms - spent) != 1) return std::nullopt;
      if (transport_ == Transport::udp) {
        int n = platform::receive_from(socket_, buffer_, sizeof buffer_);
        if (n >= 0) return std::string(buffer_, static_cast<std::size_t>(n));
        continue;  // too long for any frame, or an error report of an earlier send
      }
      reader_.set_capacity(static_cast<std::int32_t>(max_frame_size));
      transports::tcp::FrameReader::Space space = reader_.space();
      int n = platform::receive_bytes(socket_, space.data, static_cast<int>(space.size));
      if (n <= 0) {
        *ended = true;
        return std::nullopt;
      }
      if (reader_.received(static_cast<std::size_t>(n)))
        return std::string(reinterpret_cast<const char*>(reader_.payload()), reader_.kept());
    }
  }

 private:
  Transport transport_;
  platform::Endpoint server_;
  platform::Endpoint local_;
  SocketHandle socket_ = platform::invalid_socket;
  transports::tcp::FrameReader reader_;
  char buffer_[70000];
};

class Terminal {
  using Clock = std::chrono::steady_clock;
  static double micros_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }

 public:
  Terminal(const TermConfig& config, int number, const TermPrinter& print)
      : config_(config), number_(number), print_(print), link_(config.transport, config.server) {}

  TermReport run() {
    report_.terminals = 1;
    if (!link_.open()) {
      report_.failed = 1;
      return report_;
    }
    // A UDP terminal says first where host data reaches it. With resends it
    // makes sure the link server knows before data goes: a terminal whose
    // port it does not know gets no answers.
    if (int port = link_.local_port()) {
      int sequence = next_sequence();
      if (send_frame(code_keep_alive, "", std::to_string(port), sequence)) {
        ++report_.keepalives;
        if (config_.resends > 0) await_acknowledgement(code_keep_alive, "", std::to_string(port), sequence);
      }
    }
    last_keepalive_ = platform::tick_ms();
    for (int round = 0; round < config_.repeat && !ended_; ++round)
      for (const TermPacket& packet : config_.packets) {
        if (ended_) break;
        send_data(packet);
      }
    listen_until(platform::tick_ms() + config_.linger_ms, -1, config_.answers);
    if (report_.answers < config_.answers) report_.short_of_answers = 1;
    return report_;
  }

 private:
  int next_sequence() {
    sequence_ = sequence_ >= max_sequence ? 1 : sequence_ + 1;
    return sequence_;
  }

  // A keep-alive carries the UDP port the terminal takes host data on.
  bool send_keep_alive() {
    int port = link_.local_port();
    return send_frame(code_keep_alive, "", port ? std::to_string(port) : "", next_sequence());
  }

  bool send_frame(const char* code, const std::string& type, const std::string& data, int sequence) {
    std::optional<std::string> bytes = encode_frame(TerminalFrame{number_, sequence, code, type, data});
    if (!bytes) return false;
    if (print_) print_("-> " + describe_frame(*bytes));
    return link_.send(*bytes);
  }

  void send_data(const TermPacket& packet) {
    int sequence = next_sequence();
    long answers_before = report_.answers;
    auto sent_at = Clock::now();
    unanswered_.push_back(sent_at);
    if (!send_frame(code_data, packet.type, packet.data, sequence)) {
      unanswered_.pop_back();
      return;
    }
    ++report_.sent;
    if (await_acknowledgement(code_data, packet.type, packet.data, sequence)) {
      report_.round_trip_us.push_back(micros_since(sent_at));
      ++report_.acknowledged;
    }
    // One answer more than before; one that does not come in time is given
    // up, so that later answers are not taken for it.
    if (config_.answer_each && !listen_until(platform::tick_ms() + config_.wait_ms, -1, answers_before + 1) &&
        !unanswered_.empty())
      unanswered_.pop_front();
  }

  // Waits up to wait_ms for the acknowledgement of a frame just sent, sending
  // it again with the same sequence number up to `resends` times.
  bool await_acknowledgement(const char* code, const std::string& type, const std::string& data, int sequence) {
    for (int attempt = 0;; ++attempt) {
      if (listen_until(platform::tick_ms() + config_.wait_ms, sequence, 0)) return true;
      if (attempt >= config_.resends || ended_ || !send_frame(code, type, data, sequence)) return false;
      ++report_.resent;
    }
  }

  // Takes what arrives until `deadline` (a tick), sending keep-alives when
  // due; true as soon as a frame with sequence `awaited` arrives, or once
  // `answers_wanted` (when above 0) host answers are in.
  bool listen_until(std::uint32_t deadline, int awaited, long answers_wanted) {
    for (;;) {
      if (answers_wanted > 0 && report_.answers >= answers_wanted) return true;
      std::uint32_t now = platform::tick_ms();
      if (static_cast<std::int32_t>(deadline - now) <= 0 || ended_) return false;
      std::uint32_t wait = deadline - now;
      if (config_.keepalive_ms > 0) {
        std::uint32_t since = now - last_keepalive_;
        if (since >= config_.keepalive_ms) {
          if (send_keep_alive()) ++report_.keepalives;
          last_keepalive_ = now;
          since = 0;
        }
        wait = std::min(wait, config_.keepalive_ms - since);
      }
      std::optional<std::string> packet = link_.receive(wait, &ended_);
      if (!packet) continue;
      std::string_view rest = *packet;
      bool matched = false, any = false;
      // A packet may hold several frames, and noise around them.
      for (;;) {
        FrameSpan span = find_frame(rest);
        if (span.size == 0) {
          if (!any) ++report_.unreadable;
          break;
        }
        any = true;
        std::string bytes(rest.substr(span.discard, span.size));
        rest.remove_prefix(span.discard + span.size);
        ++report_.received;
        if (print_) print_("<- " + describe_frame(bytes));
        std::optional<TerminalFrame> frame = decode_frame(bytes);
        if (frame && frame->code == code_answer) {
          ++report_.answers;
          if (!unanswered_.empty()) {
            report_.answer_us.push_back(micros_since(unanswered_.front()));
            unanswered_.pop_front();
          }
        }
        if (frame && frame->sequence == awaited && (frame->code == code_ack || frame->code == code_answer))
          matched = true;
      }
      if (matched) return true;
    }
  }

  const TermConfig& config_;
  int number_;
  const TermPrinter& print_;
  Link link_;
  TermReport report_;
  int sequence_ = 0;
  std::uint32_t last_keepalive_ = 0;
  bool ended_ = false;
  std::deque<Clock::time_point> unanswered_;  // send times of data frames awaiting a host answer
};

}  // namespace

TermReport run_terminals(const TermConfig& config, const TermPrinter& print) {
  std::mutex print_lock;
  TermPrinter locked;
  if (print)
    locked = [&](const std::string& line) {
      std::lock_guard<std::mutex> hold(print_lock);
      print(line);
    };
  std::vector<TermReport> reports(static_cast<std::size_t>(config.terminals > 0 ? config.terminals : 0));
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < reports.size(); ++i)
    threads.emplace_back([&, i] {
      int number = (config.first_terminal + static_cast<int>(i)) % (max_terminal + 1);
      reports[i] = Terminal(config, number, locked).run();
    });
  for (std::thread& t : threads) t.join();
  TermReport total;
  for (const TermReport& r : reports) total.add(r);
  return total;
}

}  // namespace qor::linkserver
