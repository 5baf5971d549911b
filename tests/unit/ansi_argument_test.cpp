#include "launcher/ansi_argument.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "fake_platform.h"

namespace {

class AnsiArgumentTest : public testing::Test {
 protected:
  void SetUp() override { ResetFake(); }

  // Expects `argument` to be refused: the box first, then the error, and nothing else asked.
  void ExpectRefused(const std::wstring& argument) {
    Fake().calls.clear();
    EXPECT_THROW(
        {
          try {
            AnsiArgument(argument);
          } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Unsupported characters in document name");
            throw;
          }
        },
        std::runtime_error);
    ASSERT_EQ(Fake().calls.size(), 1u);
    EXPECT_EQ(Fake().calls[0].rfind("MessageBoxA Orbedo Launcher: The name of this document", 0),
              0u);
  }
};

TEST_F(AnsiArgumentTest, KeepsEveryArgumentTheCodePageHolds) {
  // Whether or not it names anything: the system is not asked.
  EXPECT_EQ(AnsiArgument(L"C:\\Data\\caf\u00e9.pdb"), "C:\\Data\\caf\xe9.pdb");
  EXPECT_EQ(AnsiArgument(L"*.pdb"), "*.pdb");
  EXPECT_EQ(AnsiArgument(L""), "");
  EXPECT_EQ(Fake().short_path_lookups, 0);
}

TEST_F(AnsiArgumentTest, ShortensOnlyTheComponentsTheCodePageCannotHold) {
  Fake().short_paths = {
      {L"C:\\Program Files\\sub \u03b1\\1crn.pdb", L"C:\\PROGRA~1\\SUB_~SGE\\1crn.pdb"},
      {L"C:\\Program Files\\sub \u03b1", L"C:\\PROGRA~1\\SUB_~SGE"},
      {L"C:\\Data\\\u03b2-sheet.pdb", L"C:\\Data\\_-SH~F3K.PDB"},
      // Fullwidth backslashes are no separators: one name, which must not come out as a path.
      {L"C:\\Data\\x\uff3c..\uff3cy.pdb", L"C:\\Data\\X__~1.PDB"},
      {L"D:/\u03b1/", L"D:\\_~1\\"},
      {L"D:/\u03b1", L"D:\\_~1"},
  };
  EXPECT_EQ(AnsiArgument(L"C:\\Program Files\\sub \u03b1\\1crn.pdb"),
            "C:\\Program Files\\SUB_~SGE\\1crn.pdb");
  EXPECT_EQ(AnsiArgument(L"C:\\Data\\\u03b2-sheet.pdb"), "C:\\Data\\_-SH~F3K.PDB");
  EXPECT_EQ(AnsiArgument(L"C:\\Data\\x\uff3c..\uff3cy.pdb"), "C:\\Data\\X__~1.PDB");
  // Separators stay as they were written, a trailing one included.
  EXPECT_EQ(AnsiArgument(L"D:/\u03b1/"), "D:/_~1/");
}

TEST_F(AnsiArgumentTest, RefusesWhatWouldNotNameTheSameDocument) {
  Fake().short_paths = {
      // The short name cuts the extension: .mmcif would open as another type.
      {L"C:\\Data\\\u6587\u4ef6.mmcif", L"C:\\Data\\__~~~22C.MMC"},
      {L"C:\\Data\\\u03b2.orbs", L"C:\\Data\\_~1.ORB"},
      // Short names turned off for the volume: the long name comes back.
      {L"E:\\\u03b2-sheet.pdb", L"E:\\\u03b2-sheet.pdb"},
      // A folder component that has a short form but the file does not exist under it.
      {L"C:\\\u03b1", L"C:\\_~1"},
  };
  ExpectRefused(L"C:\\Data\\\u6587\u4ef6.mmcif");
  ExpectRefused(L"C:\\Data\\\u03b2.orbs");
  ExpectRefused(L"E:\\\u03b2-sheet.pdb");
  ExpectRefused(L"C:\\\u03b1\\missing.pdb");
  // Not a path at all.
  ExpectRefused(L"--title=\u03b1-helix");
}

TEST_F(AnsiArgumentTest, RefusesPatternsWithoutLookingThemUp) {
  // A pattern is no name, whatever file the system would find for it.
  for (const wchar_t* pattern : {L"*", L"?", L"<", L">", L"\""}) {
    const std::wstring argument = L"C:\\Data\\\u03b2" + std::wstring(pattern) + L".pdb";
    Fake().short_paths[argument] = L"C:\\Data\\_-SH~F3K.PDB";
    ExpectRefused(argument);
  }
  EXPECT_EQ(Fake().short_path_lookups, 0);
}

}  // namespace
