#pragma once
// Latency figures shared by the benchmarks: microsecond samples reduced to
// median, 99th percentile and mean.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace qor::bench {

using Clock = std::chrono::steady_clock;

struct Figures {
  double p50 = 0, p99 = 0, mean = 0;
};

inline Figures figures(std::vector<double> us) {
  Figures f;
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.p50 = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  for (double v : us) f.mean += v;
  f.mean /= static_cast<double>(us.size());
  return f;
}

// Microseconds since `start`.
inline double since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// One table row: the samples' figures and their median against the baseline's.
inline void row(const char* what, const std::vector<double>& us, const Figures& base) {
  Figures f = figures(us);
  std::printf("%-34s %8zu %10.2f %10.2f %10.2f %8.2fx\n", what, us.size(), f.p50, f.p99, f.mean,
              base.p50 > 0 ? f.p50 / base.p50 : 0.0);
}

}  // namespace qor::bench
