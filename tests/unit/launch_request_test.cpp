#include "launcher/launch_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(EscapeArgument, MarksExactlyTheSixCharacters) {
  EXPECT_EQ(EscapeArgument("C:\\Data\\1crn.pdb"), "C:\\\\Data\\\\1crn.pdb");
  EXPECT_EQ(EscapeArgument("x/y/z"), "x\\/y\\/z");
  EXPECT_EQ(EscapeArgument("say \"hi\""), "say \\\"hi\\\"");
  EXPECT_EQ(EscapeArgument("trailing\\"), "trailing\\\\");
  // Control characters are marked, not spelled out as letters.
  EXPECT_EQ(EscapeArgument("a\nb\rc\td"), "a\\\nb\\\rc\\\td");
  EXPECT_EQ(EscapeArgument(""), "");
  EXPECT_EQ(EscapeArgument("plain 1crn.pdb"), "plain 1crn.pdb");
}

TEST(EscapeArgument, CopiesEveryOtherByteValueUnchanged) {
  const std::string marked = "\\\"/\n\r\t";
  std::string every_byte;
  std::string expected;
  for (int value = 1; value <= 255; ++value) {
    const char byte = static_cast<char>(value);
    every_byte += byte;
    if (marked.find(byte) != std::string::npos) {
      expected += '\\';
    }
    expected += byte;
  }
  EXPECT_EQ(EscapeArgument(every_byte), expected);
  EXPECT_EQ(expected.size(), 255u + 6u);
}

TEST(EscapeArgument, HandlesLongArguments) {
  std::string path;
  std::string expected;
  for (int i = 0; i < 4000; ++i) {
    path += "dir\\";
    expected += "dir\\\\";
  }
  path += std::string(16000, 'x');
  expected += std::string(16000, 'x');
  EXPECT_EQ(EscapeArgument(path), expected);
  EXPECT_EQ(EscapeArgument(std::string(32000, '/')).size(), 64000u);
}

TEST(RequestBody, IsABracketedListWithoutSpaces) {
  EXPECT_EQ(BuildRequestBody({}), "[]");
  EXPECT_EQ(BuildRequestBody({"a", "b/c"}), "[\"a\",\"b\\/c\"]");
  EXPECT_EQ(BuildRequestBody({"a", "b", "c"}), "[\"a\",\"b\",\"c\"]");
  EXPECT_EQ(BuildRequestBody({""}), "[\"\"]");
  EXPECT_EQ(BuildRequestBody({"", ""}), "[\"\",\"\"]");
  EXPECT_EQ(BuildRequestBody({"C:\\Data\\1crn.pdb"}), "[\"C:\\\\Data\\\\1crn.pdb\"]");
  // A quote or backslash at an element's end cannot close it early.
  EXPECT_EQ(BuildRequestBody({"a\\", "\""}), "[\"a\\\\\",\"\\\"\"]");
}

}  // namespace
