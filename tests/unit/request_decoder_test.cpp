#include "request_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/launch_request.h"

namespace {

using Status = DecodedRequest::Status;

// Hex bytes "5B 22" and runs "5C*20000".
std::string Bytes(const std::string& hex) {
  std::string bytes;
  std::istringstream words(hex);
  for (std::string word; words >> word;) {
    const std::size_t star = word.find('*');
    const std::size_t count = star == std::string::npos ? 1 : std::stoul(word.substr(star + 1));
    bytes.append(count, static_cast<char>(std::stoul(word.substr(0, star), nullptr, 16)));
  }
  return bytes;
}

// The vectors of docs/request-vectors.txt, whose header gives the format: each field's values.
using Vector = std::map<std::string, std::vector<std::string>>;

std::vector<Vector> ReadVectors() {
  std::ifstream file(REQUEST_VECTORS);
  std::vector<Vector> vectors(1);
  std::string* value = nullptr;  // The one a line that starts with spaces goes on with.
  for (std::string line; std::getline(file, line);) {
    if (line.empty()) {
      if (!vectors.back().empty()) {
        vectors.emplace_back();
      }
    } else if (line[0] == ' ' && value) {
      *value += line;
    } else if (line[0] != '#') {
      const std::size_t space = std::min(line.find(' '), line.size());
      std::vector<std::string>& values = vectors.back()[line.substr(0, space)];
      values.push_back(line.substr(std::min(line.find_first_not_of(' ', space), line.size())));
      value = &values.back();
    }
  }
  if (vectors.back().empty()) {
    vectors.pop_back();
  }
  return vectors;
}

TEST(RequestVectors, AreWhatTheLauncherSendsAndTheReferenceDecoderReads) {
  std::set<std::string> results;
  for (Vector& vector : ReadVectors()) {
    SCOPED_TRACE(vector["vector"].at(0));
    const std::string result = vector["result"].at(0);
    const std::string request = Bytes(vector["request"].at(0));
    results.insert(result);
    const DecodedRequest decoded = DecodeRequest(request);
    if (result == "malformed" || result == "incomplete") {
      EXPECT_EQ(decoded.status, result == "malformed" ? Status::kMalformed : Status::kIncomplete);
      EXPECT_TRUE(decoded.arguments.empty());
      continue;
    }
    ASSERT_EQ(result, "complete");
    std::vector<std::string> arguments;
    for (const std::string& hex : vector["argument"]) {
      arguments.push_back(Bytes(hex));
    }
    const std::size_t length =
        vector["length"].empty() ? request.size() : std::stoul(vector["length"][0]);
    EXPECT_EQ(BuildRequestBody(arguments) + "<EOF>", request.substr(0, length));
    ASSERT_EQ(decoded.status, Status::kComplete);
    EXPECT_EQ(decoded.arguments, arguments);
    EXPECT_EQ(decoded.length, length);
    // Every beginning, but of the longest only a few, as each call parses from the first byte.
    for (std::size_t cut = 0; cut < length; cut += length < 4096 ? 1 : length / 7) {
      EXPECT_EQ(DecodeRequest(request.substr(0, cut)).status, Status::kIncomplete) << cut;
    }
    EXPECT_EQ(DecodeRequest(request.substr(0, length - 1)).status, Status::kIncomplete);
  }
  EXPECT_EQ(results, (std::set<std::string>{"complete", "incomplete", "malformed"}))
      << "read from " REQUEST_VECTORS;
}

}  // namespace
