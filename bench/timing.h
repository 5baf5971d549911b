// What the benchmarks' C++ programs share: the median time of a piece of work.

#ifndef BENCH_TIMING_H_
#define BENCH_TIMING_H_

#include <algorithm>
#include <chrono>
#include <vector>

// The median milliseconds of `runs` (at least one) runs of `work`.
template <typename Work>
double MedianMilliseconds(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

#endif  // BENCH_TIMING_H_
