#include "link/system_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

using Calls = std::vector<std::string>;

class SystemLibraryTest : public testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
};

TEST_F(SystemLibraryTest, LoadsFromTheSystemFolder) {
  EXPECT_NE(LoadSystemLibrary(L"user32.dll"), 0u);
  EXPECT_EQ(Fake().calls, Calls{"LoadLibraryExW system folder: user32.dll"});
}

TEST_F(SystemLibraryTest, FallsBackToTheFullPathWhereTheSearchIsUnknown) {
  // Windows Vista and 7 without the loader update.
  Fake().system_folder_search_known = false;
  EXPECT_NE(LoadSystemLibrary(L"iphlpapi.dll"), 0u);
  EXPECT_EQ(Fake().calls,
            (Calls{"LoadLibraryExW system folder: iphlpapi.dll", "GetSystemDirectoryW",
                   "LoadLibraryExW full path: C:\\Windows\\System32\\iphlpapi.dll"}));
}

TEST_F(SystemLibraryTest, NeverLoadsByTheNameAlone) {
  Fake().system_folder_search_known = false;
  Fake().system_directory.clear();
  EXPECT_EQ(LoadSystemLibrary(L"user32.dll"), 0u);
  EXPECT_EQ(Fake().Count("LoadLibraryExW full path"), 0);
}

}  // namespace
