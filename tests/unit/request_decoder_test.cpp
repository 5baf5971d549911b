#include "request_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch_request.h"

namespace {

using Status = DecodedRequest::Status;

std::string Request(const std::vector<std::string>& arguments) {
  return BuildRequestBody(arguments) + "<EOF>";
}

TEST(DecodeRequest, GivesBackWhatTheLauncherSent) {
  std::string every_byte;
  for (int value = 1; value <= 255; ++value) {
    every_byte += static_cast<char>(value);
  }
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"a", "b/c"},
      {"", ""},
      {"C:\\Data\\1crn.pdb", "x/y/z", "say \"hi\"", "ends\\"},
      {"<EOF>", "]<EOF>", "\"]<EOF>"},
      {every_byte, std::string(20000, '\\')},
  };
  for (const auto& arguments : cases) {
    const std::string request = Request(arguments);
    const DecodedRequest decoded = DecodeRequest(request);
    ASSERT_EQ(decoded.status, Status::kComplete) << request;
    EXPECT_EQ(decoded.arguments, arguments);
    EXPECT_EQ(decoded.length, request.size());
  }
}

TEST(DecodeRequest, WaitsForEveryPrefixOfARequest) {
  const std::string request = Request({"a\\b", "<EOF>", ""});
  for (std::size_t length = 0; length < request.size(); ++length) {
    EXPECT_EQ(DecodeRequest(request.substr(0, length)).status, Status::kIncomplete) << length;
  }
}

TEST(DecodeRequest, StopsAtTheTerminatorAfterTheList) {
  const DecodedRequest decoded = DecodeRequest("[\"a\"]<EOF>trailing");
  EXPECT_EQ(decoded.status, Status::kComplete);
  EXPECT_EQ(decoded.length, 10u);
}

TEST(DecodeRequest, RejectsWhatNoLauncherSends) {
  for (const char* bytes :
       {"x", "[x", "[\"a\"x", "[\"a\",]", "[,\"a\"]", "[]<EOX>", "[] <EOF>", "[\"a\"]]<EOF>"}) {
    const DecodedRequest decoded = DecodeRequest(bytes);
    EXPECT_EQ(decoded.status, Status::kMalformed) << bytes;
    EXPECT_TRUE(decoded.arguments.empty());
  }
}

}  // namespace
