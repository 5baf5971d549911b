// What memory that the allocator hands out afresh costs: a block allocated, each of its 4 KiB
// pages written once and the block freed, again and again, as a thumbnail's buffers are. Built
// for the host and for Windows by bench/thumbnails, which runs the second under Wine.
//   fresh_pages KIB...
// Prints, for each block size, the median microseconds a page over 5 batches of 20 blocks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: fresh_pages KIB...\n", stderr);
    return 2;
  }
  constexpr std::size_t kPage = 4096;
  for (int i = 1; i < argc; ++i) {
    const std::size_t bytes = std::stoul(argv[i]) * 1024;
    std::vector<double> batches;
    for (int batch = 0; batch < 5; ++batch) {
      const auto start = std::chrono::steady_clock::now();
      for (int block = 0; block < 20; ++block) {
        char* volatile memory = static_cast<char*>(std::malloc(bytes));
        if (!memory) {
          return 1;
        }
        for (std::size_t at = 0; at < bytes; at += kPage) {
          memory[at] = 1;
        }
        std::free(memory);
      }
      batches.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
              .count() /
          (20.0 * static_cast<double>(bytes / kPage)));
    }
    std::sort(batches.begin(), batches.end());
    std::printf("%s%.2f", i > 1 ? " " : "", batches[2]);
  }
  std::printf("\n");
  return 0;
}
