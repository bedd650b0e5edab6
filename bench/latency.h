#pragma once
// Latency figures shared by the benchmarks: microsecond samples reduced to
// median, 99th percentile and mean.
#include <algorithm>
#include <chrono>
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

}  // namespace qor::bench
