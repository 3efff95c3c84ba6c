#include <gtest/gtest.h>

#include "cli/version_banner.h"
#include "tests/fake/fake_process_table.h"
#include "tests/unit/capture.h"

namespace {

std::string Banner(const std::string& name, const std::string& version) {
  return name + " Version " + version + "\n" + ATTRIBUTION_LINE + "\n";
}

CapturedRun ShowBanner(const char* name) {
  return RunCaptured([&] {
    ShowVersion(GetModuleHandleA(nullptr), name);
    return 0;
  });
}

class VersionBanner : public testing::Test {
 protected:
  void SetUp() override { FakeReset(); }
};

TEST_F(VersionBanner, ReadsFileVersionOfTheModulesOwnFile) {
  FakeSetVersion("7, 8, 9, 10");
  EXPECT_EQ(ShowBanner("Volmo").output, Banner("Volmo", "7, 8, 9, 10"));
  EXPECT_EQ(FakeVersionFilePaths(),
            (std::vector<std::string>{"C:\\volmo\\volmo.exe", "C:\\volmo\\volmo.exe"}));
  EXPECT_EQ(FakeVersionQueries(),
            std::vector<std::string>{"\\StringFileInfo\\0c0904b0\\FileVersion"});
}

TEST_F(VersionBanner, NameAndVersionArePrintedAsTheyAre) {
  FakeSetVersion("");
  EXPECT_EQ(ShowBanner("").output, Banner("", ""));
  FakeSetVersion("%s %n");
  EXPECT_EQ(ShowBanner("A much longer name").output, Banner("A much longer name", "%s %n"));
}

TEST_F(VersionBanner, WithoutReadableVersionTheVersionIsUnknown) {
  for (FakeVersionFault fault :
       {FAKE_PATH_FAILS, FAKE_PATH_TRUNCATED, FAKE_NO_VERSION_INFO, FAKE_NO_FILE_VERSION}) {
    FakeReset();
    FakeSetVersion("1, 0, 0, 2", fault);
    EXPECT_EQ(ShowBanner("Volmo").output, Banner("Volmo", "Unknown")) << fault;
  }
}

TEST_F(VersionBanner, LongVersionTextIsCutAt1023Bytes) {
  FakeSetVersion(std::string(1023, 'v') + "TAIL");
  EXPECT_EQ(ShowBanner("Volmo").output, Banner("Volmo", std::string(1023, 'v')));
}

TEST_F(VersionBanner, AttributionLineHasTheFixedShape) {
  // " <credit> (<e-mail>) - <web address>": one leading space, nothing after the address.
  const std::string line = ATTRIBUTION_LINE;
  ASSERT_GT(line.size(), 2u);
  EXPECT_EQ(line[0], ' ');
  EXPECT_NE(line[1], ' ');
  size_t open = line.find(" (");
  size_t close = line.find(") - ");
  ASSERT_NE(open, std::string::npos);
  ASSERT_NE(close, std::string::npos);
  EXPECT_NE(line.substr(open + 2, close - open - 2).find('@'), std::string::npos);
  EXPECT_EQ(line.find(' ', close + 4), std::string::npos);
  EXPECT_NE(line.back(), ' ');
}

}  // namespace
