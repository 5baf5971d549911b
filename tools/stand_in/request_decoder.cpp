#include "request_decoder.h"

namespace {

constexpr std::string_view kTerminator = "<EOF>";

}  // namespace

DecodedRequest DecodeRequest(std::string_view bytes) {
  using Status = DecodedRequest::Status;
  DecodedRequest result;
  std::size_t at = 0;

  auto next_is = [&](char c) { return at < bytes.size() && bytes[at] == c; };
  // Running out of bytes where a piece is expected only means the request has not all arrived.
  auto stop = [&](Status status) {
    result.status = status;
    result.arguments.clear();
    return result;
  };
  auto stop_unexpected = [&] {
    return stop(at < bytes.size() ? Status::kMalformed : Status::kIncomplete);
  };

  if (!next_is('[')) {
    return stop_unexpected();
  }
  ++at;
  while (!next_is(']')) {
    if (!result.arguments.empty()) {
      if (!next_is(',')) {
        return stop_unexpected();
      }
      ++at;
    }
    if (!next_is('"')) {
      return stop_unexpected();
    }
    ++at;
    std::string argument;
    // A backslash takes the next byte literally; the launcher puts one only before a backslash,
    // a double quote, a slash, a line feed, a carriage return or a tab.
    for (; at < bytes.size() && bytes[at] != '"'; ++at) {
      if (bytes[at] == '\\' && ++at == bytes.size()) {
        break;
      }
      argument += bytes[at];
    }
    if (at == bytes.size()) {
      return stop(Status::kIncomplete);
    }
    ++at;  // The closing quote.
    result.arguments.push_back(std::move(argument));
  }
  ++at;  // The closing bracket.

  const std::string_view rest = bytes.substr(at, kTerminator.size());
  if (rest != kTerminator.substr(0, rest.size())) {
    return stop(Status::kMalformed);
  }
  if (rest.size() < kTerminator.size()) {
    return stop(Status::kIncomplete);
  }
  result.status = Status::kComplete;
  result.length = at + kTerminator.size();
  return result;
}
