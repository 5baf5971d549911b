// The reference decoder's cost on the Linux host, for docs/protocol.md ("The reference decoder"):
// called after every read of 4,096 bytes, and called once over a whole request, for selections
// of paths of 260 bytes. Build and run from the repository's root:
//   g++ -std=c++17 -O2 -I. -Itools/stand_in bench/request_decoding.cpp \
//     tools/stand_in/request_decoder.cpp launcher/launch_request.cpp -o /tmp/request_decoding &&
//     /tmp/request_decoding

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/launch_request.h"
#include "request_decoder.h"

namespace {

std::string Selection(int paths) {
  std::vector<std::string> arguments;
  for (int i = 0; i < paths; ++i) {
    const std::string folder = "C:\\Data\\" + std::to_string(100000 + i) + "\\";
    arguments.push_back(folder + std::string(260 - folder.size(), 'x'));
  }
  return BuildRequestBody(arguments) + "<EOF>";
}

template <typename Work>
double Seconds(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* how, const std::string& request, double seconds) {
  std::printf("%s, %zu bytes: %.3f s\n", how, request.size(), seconds);
}

}  // namespace

int main() {
  const std::string request = Selection(10000);
  Report("10,000 paths, after every read", request, Seconds([&] {
           for (std::size_t read = 4096;
                DecodeRequest(std::string_view(request).substr(0, read)).status !=
                DecodedRequest::Status::kComplete;
                read += 4096) {
           }
         }));
  for (const int paths : {20000, 1000000}) {
    const std::string whole = Selection(paths);
    Report((std::to_string(paths) + " paths, once").c_str(), whole,
           Seconds([&] { DecodeRequest(whole); }));
  }
}
