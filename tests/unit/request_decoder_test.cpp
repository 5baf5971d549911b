#include "request_decoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/launch_request.h"

namespace {

using Status = DecodedRequest::Status;

// One vector of docs/request-vectors.txt, whose header gives the format.
struct Vector {
  int line = 0;
  std::string name;
  std::vector<std::string> arguments;
  std::string request;
  std::string result;
  std::optional<std::size_t> length;
};

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

std::vector<Vector> ReadVectors() {
  std::ifstream file(REQUEST_VECTORS);
  std::vector<Vector> vectors;
  std::vector<std::pair<std::string, std::string>> fields;  // Of the vector being read.
  int line_number = 0;
  const auto end_vector = [&] {
    if (fields.empty()) {
      return;
    }
    Vector vector;
    vector.line = line_number;
    for (const auto& [field, value] : fields) {
      if (field == "vector") {
        vector.name = value;
      } else if (field == "argument") {
        vector.arguments.push_back(Bytes(value));
      } else if (field == "request") {
        vector.request = Bytes(value);
      } else if (field == "result") {
        vector.result = value;
      } else if (field == "length") {
        vector.length = std::stoul(value);
      } else {
        ADD_FAILURE() << "unknown field " << field << " before line " << line_number;
      }
    }
    vectors.push_back(vector);
    fields.clear();
  };
  for (std::string line; std::getline(file, line);) {
    ++line_number;
    if (line.empty()) {
      end_vector();
    } else if (line[0] == ' ' && !fields.empty()) {
      fields.back().second += line;
    } else if (line[0] != '#') {
      const std::size_t space = line.find(' ');
      const std::size_t value = line.find_first_not_of(' ', space);
      fields.emplace_back(line.substr(0, space),
                          value == std::string::npos ? "" : line.substr(value));
    }
  }
  end_vector();
  return vectors;
}

TEST(RequestVectors, AreWhatTheLauncherSendsAndTheReferenceDecoderReads) {
  const std::vector<Vector> vectors = ReadVectors();
  std::set<std::string> results;
  for (const Vector& vector : vectors) {
    SCOPED_TRACE(vector.name + " (ending before line " + std::to_string(vector.line) + ")");
    results.insert(vector.result);
    const DecodedRequest decoded = DecodeRequest(vector.request);
    if (vector.result == "malformed" || vector.result == "incomplete") {
      EXPECT_EQ(decoded.status,
                vector.result == "malformed" ? Status::kMalformed : Status::kIncomplete);
      EXPECT_TRUE(decoded.arguments.empty());
      continue;
    }
    ASSERT_EQ(vector.result, "complete");
    const std::size_t length = vector.length.value_or(vector.request.size());
    EXPECT_EQ(BuildRequestBody(vector.arguments) + "<EOF>", vector.request.substr(0, length));
    ASSERT_EQ(decoded.status, Status::kComplete);
    EXPECT_EQ(decoded.arguments, vector.arguments);
    EXPECT_EQ(decoded.length, length);
    // Every beginning, but of the longest only a few, as each call parses from the first byte.
    for (std::size_t cut = 0; cut < length; cut += length < 4096 ? 1 : length / 7) {
      EXPECT_EQ(DecodeRequest(vector.request.substr(0, cut)).status, Status::kIncomplete) << cut;
    }
    EXPECT_EQ(DecodeRequest(vector.request.substr(0, length - 1)).status, Status::kIncomplete);
  }
  EXPECT_EQ(results, (std::set<std::string>{"complete", "incomplete", "malformed"}))
      << "read from " REQUEST_VECTORS;
}

}  // namespace
