#include "launcher/launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

class LaunchTest : public testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
};

TEST_F(LaunchTest, PrefixCutsTheLaunchersNineteenCharacterName) {
  EXPECT_EQ(InstallPrefix("C:\\Apps\\Orbedo\\Orbedo-Launcher.exe"), "C:\\Apps\\Orbedo\\");
  EXPECT_EQ(InstallPrefix("C:\\Program Files\\Orbedo\\Orbedo-Launcher.exe"),
            "C:\\Program Files\\Orbedo\\");
  EXPECT_EQ(InstallPrefix("xOrbedo-Launcher.exe"), "x");
  // Another name of another length leaves a wrong prefix; only the count matters.
  EXPECT_EQ(InstallPrefix("C:\\Apps\\Orbedo\\launch.exe"), "C:\\App");
  EXPECT_EQ(InstallPrefix("C:\\Apps\\Orbedo\\Orbedo-Launcher-64.exe"), "C:\\Apps\\Orbedo\\Orb");
  EXPECT_EQ(Fake().Count("GetModuleFileNameW"), 0);
}

TEST_F(LaunchTest, PrefixIsTheLaunchersOwnFolderForNineteenCharactersOrFewer) {
  // A bare name typed in a console, or an unquoted command line cut at "C:\Program": never the
  // current folder.
  for (const char* invoked : {"Orbedo-Launcher.exe", "C:\\Program", ""}) {
    EXPECT_EQ(InstallPrefix(invoked), "/opt/orbedo/") << invoked;
  }
  Fake().module_file_name = "/Orbedo-Launcher.exe";
  EXPECT_EQ(InstallPrefix("Orbedo-Launcher.exe"), "/");
  // Not known: no folder, and so no program is started at all.
  Fake().module_file_name = "";
  EXPECT_EQ(InstallPrefix("Orbedo-Launcher.exe"), "");
}

TEST_F(LaunchTest, DeliversTheArgumentsAndExitsWithZero) {
  Fake().connect_results = {true};
  const char* argv[] = {"C:\\Apps\\Orbedo\\Orbedo-Launcher.exe", "a", "b/c"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(Launch(3, argv), kLaunchDelivered);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Fake().sent, std::string("\x5B\x22\x61\x22\x2C\x22\x62\x5C\x2F\x63\x22\x5D\x3C\x45\x4F"
                                     "\x46\x3E"));
}

TEST_F(LaunchTest, RunsInFullWithNoArgumentsToForward) {
  Fake().connect_results = {false, true};
  const char* argv[] = {"Orbedo-Launcher.exe"};
  EXPECT_EQ(Launch(1, argv), kLaunchDelivered);
  EXPECT_EQ(Fake().sent, "[]<EOF>");
  EXPECT_EQ(Fake().Count("CreateProcessW /opt/orbedo/Orbedo.exe \"/opt/orbedo/Orbedo.exe\""), 1);
}

TEST_F(LaunchTest, TakesAnEmptyArgumentVector) {
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(0, nullptr), kLaunchDelivered);
  EXPECT_EQ(Fake().sent, "[]<EOF>");
  EXPECT_EQ(Fake().Count("CreateProcessW /opt/orbedo/Orbedo.exe"), 1);
}

TEST_F(LaunchTest, DocumentsFromElsewhereLaunchAsTheCommandLinesArgumentsWould) {
  // As Explorer's selection hands them over: the launcher's path from COM's command line, the
  // documents from the drop.
  const std::vector<std::string> documents = {"C:\\Data\\1crn.pdb", "C:\\Data\\ligand set\\x.sdf",
                                              "", "a\"b/c"};
  const char* argv[] = {"C:\\Apps\\Orbedo\\Orbedo-Launcher.exe", documents[0].c_str(),
                        documents[1].c_str(), documents[2].c_str(), documents[3].c_str()};
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(5, argv), kLaunchDelivered);
  const FakePlatform command_line = Fake();

  ResetFake();
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(argv[0], documents, StartFolder::kLaunchers), kLaunchDelivered);
  EXPECT_EQ(Fake().sent, command_line.sent);
  EXPECT_EQ(Fake().calls, command_line.calls);
}

TEST_F(LaunchTest, StartsASelectionInItsFirstDocumentsFolderWhereItCanElseTheInstallationFolder) {
  const std::string longest = "/" + std::string(257, 'd') + "/";  // MAX_PATH less the NUL.
  const struct {
    StartFolder start_folder;
    std::string document;
    std::vector<std::string> folders;  // Where each start was made.
  } starts[] = {
      {StartFolder::kLaunchers, "/data/md/run 1.gro", {""}},
      {StartFolder::kSelections, "/data/md/run 1.gro", {"/data/md/"}},
      {StartFolder::kSelections, longest + "x.gro", {longest}},
      // Too long to be current; gone since the drop: never the folder COM started the launcher in.
      {StartFolder::kSelections, longest + "d/x.gro", {"/opt/orbedo/"}},
      {StartFolder::kSelections, "/data/gone/x.gro", {"/data/gone/", "/opt/orbedo/"}},
  };
  for (const auto& start : starts) {
    ResetFake();
    Fake().connect_results = {false, true};
    Fake().refused_folders = {"/data/gone/"};
    EXPECT_EQ(Launch("/opt/orbedo/Orbedo-Launcher.exe", {start.document}, start.start_folder),
              kLaunchDelivered);
    EXPECT_EQ(Fake().start_folders, start.folders) << start.document;
  }
}

TEST_F(LaunchTest, ReportsAFailureOnOneLineOfStandardError) {
  Fake().create_process_result = false;
  const char* argv[] = {"C:\\Apps\\Orbedo\\Orbedo-Launcher.exe", "C:\\Data\\1crn.pdb"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(Launch(2, argv), kLaunchFailed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "An exception occured: Couldn't start Orbedo\n");
  EXPECT_EQ(Fake().calls.back(),
            "MessageBoxA Couldn't start Orbedo: Orbedo launcher failed to start Orbedo.exe");
  EXPECT_EQ(Fake().sent, "");

  // Memory that runs out has a box of its own, which speaks of no selection.
  ResetFake();
  Fake().out_of_memory = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Launch(2, argv), kLaunchFailed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "An exception occured: Out of memory\n");
  EXPECT_EQ(Fake().calls.back(),
            "MessageBoxA Orbedo Launcher: There was not enough memory to hand the documents to "
            "Orbedo, so none of them was opened.\n\nClose other programs, and open them again.");
}

}  // namespace
