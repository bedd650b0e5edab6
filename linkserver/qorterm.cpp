// qorterm: simulated terminals for a link server. See docs/qorterm.md.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/latency.h"
#include "linkserver/term_options.h"
#include "platform/socket.h"

using namespace qor::linkserver;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TermOptions options = parse_term_options(args);
  if (options.help) {
    std::fputs(term_usage_text(), stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "qorterm: %s\n%s", options.error.c_str(), term_usage_text());
    return 2;
  }
  if (qor::platform::start_sockets() != 0) {
    std::fprintf(stderr, "qorterm: the socket layer cannot start\n");
    return 1;
  }
  const TermConfig& config = options.config;
  bool per_frame = !options.quiet && config.terminals == 1;
  TermReport report = run_terminals(config, per_frame ? TermPrinter([](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  })
                                                      : TermPrinter());
  qor::bench::Figures rtt = qor::bench::figures(report.round_trip_us);
  std::printf("terminals %d (%d failed to open), sent %ld, acknowledged %ld, keep-alives %ld, received %ld frames",
              report.terminals, report.failed, report.sent, report.acknowledged, report.keepalives, report.received);
  if (report.answers || config.answers) std::printf(", host answers %ld", report.answers);
  if (report.unreadable) std::printf(", %ld unreadable packets", report.unreadable);
  std::printf("\n");
  if (!report.round_trip_us.empty())
    std::printf("round trip: p50 %.0f us, p99 %.0f us, mean %.0f us\n", rtt.p50, rtt.p99, rtt.mean);
  qor::platform::stop_sockets();
  return report.failed == 0 && report.acknowledged == report.sent && report.short_of_answers == 0 ? 0 : 1;
}
