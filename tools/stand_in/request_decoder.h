// Reference decoder for the launch request: the inverse of the launcher's escaping, for the
// main application's side of the connection.

#ifndef TOOLS_STAND_IN_REQUEST_DECODER_H_
#define TOOLS_STAND_IN_REQUEST_DECODER_H_

#include <string>
#include <string_view>
#include <vector>

struct DecodedRequest {
  enum class Status {
    kComplete,    // A whole request up to and including its terminator.
    kIncomplete,  // A valid beginning; more bytes are needed.
    kMalformed,   // Not a request, whatever follows.
  };
  Status status = Status::kIncomplete;
  std::vector<std::string> arguments;  // Set when complete.
  std::size_t length = 0;              // Bytes taken, terminator included, when complete.
};

// Decodes the request at the start of `bytes`. The terminator "<EOF>" may also occur inside an
// argument, so the end of a request is found by parsing, never by searching for it.
DecodedRequest DecodeRequest(std::string_view bytes);

#endif  // TOOLS_STAND_IN_REQUEST_DECODER_H_
