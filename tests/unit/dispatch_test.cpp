#include <gtest/gtest.h>

#include "cli/version_banner.h"
#include "tests/fake/fake_process_table.h"
#include "tests/unit/capture.h"

namespace {

const char USAGE[] =
    "Usage: Volmo [command] ...\n"
    "   Volmo -l                                 - list processes\n"
    "   Volmo -k [ProcessID | ProcessName]       - kill process\n";

void ResetWithNotepad() {
  FakeReset();
  FakeAddProcess(FakeNamedProcess(8, "notepad.exe"));
}

class Dispatch : public testing::Test {
 protected:
  void SetUp() override { ResetWithNotepad(); }
  void TearDown() override { EXPECT_EQ(FakeOpenHandleCount(), 0) << "a handle was left open"; }
};

TEST_F(Dispatch, ListCommandIgnoresCaseAndFurtherArguments) {
  for (auto args : {std::vector<std::string>{"-l"}, {"-L"}, {"-l", "-k", "8"}}) {
    ResetWithNotepad();
    CapturedRun run = RunVolmo(args);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, "8\tnotepad.exe\n");
    EXPECT_TRUE(FakeTerminatedIds().empty());
  }
}

TEST_F(Dispatch, KillCommandIgnoresCaseAndArgumentsAfterTheTarget) {
  CapturedRun run = RunVolmo({"-K", "8", "9", "extra"});
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 8 : notepad.exe\n");
  EXPECT_EQ(FakeTerminatedIds(), std::vector<DWORD>{8});
}

std::string Banner() { return std::string("Volmo Version 1, 0, 0, 2\n") + ATTRIBUTION_LINE + "\n"; }

TEST_F(Dispatch, NoArgumentsPrintBannerThenUsageAndReturnOne) {
  CapturedRun run = RunVolmo({});
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output, Banner() + USAGE);
  EXPECT_TRUE(FakeCalls().empty());
}

TEST_F(Dispatch, MissingKillTargetPrintsUsageAndTouchesNothing) {
  for (const char* word : {"-k", "-K"}) {
    CapturedRun run = RunVolmo({word});
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.output, USAGE);
  }
  EXPECT_TRUE(FakeCalls().empty());
}

TEST_F(Dispatch, UnknownCommandIsEchoedWithoutLineBreakAndReturnsZero) {
  for (const char* word : {"-x", "", "%s%n", "--l", "-list", "-l ", "l", "-kk"}) {
    CapturedRun run = RunVolmo({word, "8"});
    EXPECT_EQ(run.result, 0) << word;
    EXPECT_EQ(run.output, std::string("Unknown command: ") + word);
  }
  EXPECT_TRUE(FakeCalls().empty());
}

TEST_F(Dispatch, DegenerateArgumentVectorsPrintUsage) {
  char* empty_vector[] = {nullptr};
  CapturedRun run = RunCaptured([&] { return DispatchCommand(0, empty_vector); });
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output, Banner() + USAGE);

  // A count that claims a target the vector does not hold.
  char program[] = "volmo", kill[] = "-k";
  char* short_vector[] = {program, kill, nullptr};
  run = RunCaptured([&] { return DispatchCommand(3, short_vector); });
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output, USAGE);
  EXPECT_TRUE(FakeCalls().empty());
}

}  // namespace
