// libFuzzer target for the launch request, both ways. The input, split into arguments, goes through
// the launcher's escaping and must come back unchanged from the reference decoder; the raw input
// goes to the decoder as whatever a peer might send, which must never crash it nor be read
// inconsistently.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/launch_request.h"
#include "request_decoder.h"

namespace {

using Status = DecodedRequest::Status;
constexpr std::string_view kTerminator = "<EOF>";

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// Every NUL ends an argument, and bytes after the last NUL make one more: "" is no argument at
// all, "\0" one empty argument. Command-line arguments cannot hold a NUL.
std::vector<std::string> SplitArguments(std::string_view input) {
  std::vector<std::string> arguments;
  while (!input.empty()) {
    const std::size_t end = input.find('\0');
    arguments.emplace_back(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  return arguments;
}

void CheckRoundTrip(std::string_view input) {
  const std::vector<std::string> arguments = SplitArguments(input);
  const std::string request = BuildRequestBody(arguments) + std::string(kTerminator);

  const DecodedRequest decoded = DecodeRequest(request);
  Require(decoded.status == Status::kComplete);
  Require(decoded.arguments == arguments);
  Require(decoded.length == request.size());
  // A peer reading it in pieces must wait for the last byte, not give up before it.
  Require(DecodeRequest(std::string_view(request).substr(0, request.size() - 1)).status ==
          Status::kIncomplete);
}

void CheckDecoding(std::string_view bytes) {
  const DecodedRequest decoded = DecodeRequest(bytes);
  if (decoded.status != Status::kComplete) {
    Require(decoded.arguments.empty());
    return;
  }
  Require(decoded.length <= bytes.size());
  Require(bytes.substr(decoded.length - kTerminator.size(), kTerminator.size()) == kTerminator);
  // What follows a request is no part of it; what precedes its end is only a beginning.
  const DecodedRequest alone = DecodeRequest(bytes.substr(0, decoded.length));
  Require(alone.status == Status::kComplete && alone.arguments == decoded.arguments &&
          alone.length == decoded.length);
  for (const std::size_t cut : {decoded.length - 1, decoded.length / 2}) {
    Require(DecodeRequest(bytes.substr(0, cut)).status == Status::kIncomplete);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckRoundTrip(input);
  CheckDecoding(input);
  return 0;
}
