#include <gtest/gtest.h>

#include "process/kill_command.h"
#include "tests/fake/fake_process_table.h"
#include "tests/unit/capture.h"

namespace {

CapturedRun RunKill(const char* target) {
  return RunCaptured([&] { return KillProcess(target); });
}

std::vector<DWORD> OpenAccessFor(DWORD id) {
  std::vector<DWORD> access;
  for (const FakeCall& call : FakeCallsOf(FAKE_OPEN)) {
    if (call.id == id) access.push_back(call.access);
  }
  return access;
}

class KillCommand : public testing::Test {
 protected:
  void SetUp() override {
    FakeReset();
    FakeSetOwnProcessId(77);
  }
  void TearDown() override {
    EXPECT_EQ(FakeOpenHandleCount(), 0) << "a handle was left open";
    EXPECT_LE(FakeMostHandlesOpenAtOnce(), 1) << "two handles were open at once";
  }
};

TEST_F(KillCommand, ById) {
  FakeAddProcess(FakeNamedProcess(1234, "notepad.exe"));
  CapturedRun run = RunKill("1234");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 1234 : notepad.exe\n");
  EXPECT_EQ(OpenAccessFor(1234), std::vector<DWORD>{0x0411});
  std::vector<FakeCall> terminates = FakeCallsOf(FAKE_TERMINATE);
  ASSERT_EQ(terminates.size(), 1u);
  EXPECT_EQ(terminates[0].id, 1234u);
  EXPECT_EQ(terminates[0].exit_code, 0xFFFFFFFFu);
}

TEST_F(KillCommand, NumericTargetsNeverSearchByName) {
  struct Case {
    const char* target;
    DWORD id;
    const char* printed;
  } cases[] = {
      {"123abc", 123, "123"},
      {" 42", 42, "42"},
      {"+7", 7, "7"},
      {"007", 7, "7"},
      {"4294967295", 0xFFFFFFFF, "-1"},
      {"2147483648", 0x80000000, "-2147483648"},
  };
  for (const Case& c : cases) {
    FakeReset();
    FakeAddProcess(FakeNamedProcess(c.id, "victim.exe"));
    FakeAddProcess(
        FakeNamedProcess(99, c.target));  // a process named like the target: never chosen
    CapturedRun run = RunKill(c.target);
    EXPECT_EQ(run.result, 0) << c.target;
    EXPECT_EQ(run.output, std::string("Terminating Process - ") + c.printed + " : victim.exe\n");
    EXPECT_EQ(FakeTerminatedIds(), std::vector<DWORD>{c.id}) << c.target;
    EXPECT_TRUE(FakeCallsOf(FAKE_ENUM).empty()) << c.target;
  }
}

TEST_F(KillCommand, FallsBackToTerminateAloneAndNamesTheProcessUnknown) {
  FakeProcess guarded = FakeNamedProcess(50, "guarded.exe");
  guarded.grants_read = false;
  FakeAddProcess(guarded);
  CapturedRun run = RunKill("50");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 50 : [unknown]\n");
  EXPECT_EQ(OpenAccessFor(50), (std::vector<DWORD>{0x0411, 0x0001}));
  EXPECT_EQ(FakeTerminatedIds(), std::vector<DWORD>{50});
}

TEST_F(KillCommand, OpenFailureReportsTheIdAsTyped) {
  FakeProcess protected_process = FakeNamedProcess(60, "csrss.exe");
  protected_process.grants_terminate = false;
  FakeAddProcess(protected_process);
  struct Case {
    const char* target;
    const char* output;
  } cases[] = {
      {"60", "Error: Opening process: 60\n"},
      {"-5", "Error: Opening process: -5\n"},
      {"31337", "Error: Opening process: 31337\n"},
  };
  for (const Case& c : cases) {
    CapturedRun run = RunKill(c.target);
    EXPECT_EQ(run.result, -1) << c.target;
    EXPECT_EQ(run.output, c.output);
  }
  EXPECT_EQ(OpenAccessFor(60), (std::vector<DWORD>{0x0411, 0x0001}));
  EXPECT_TRUE(FakeCallsOf(FAKE_TERMINATE).empty());
}

TEST_F(KillCommand, RefusedTerminationIsReportedAsAFailure) {
  FakeProcess stubborn = FakeNamedProcess(70, "stubborn.exe");
  stubborn.terminate_refused = true;
  FakeAddProcess(stubborn);
  CapturedRun run = RunKill("70");
  EXPECT_EQ(run.result, -3);
  EXPECT_EQ(run.output,
            "Terminating Process - 70 : stubborn.exe\n"
            "Error: Terminating process: 70\n");
  EXPECT_EQ(FakeCallsOf(FAKE_CLOSE).size(), 1u);
}

TEST_F(KillCommand, ByNameFindsTheFirstMatchWithoutRegardToCase) {
  FakeAddProcess(FakeNamedProcess(10, "explorer.exe"));
  FakeAddProcess(FakeNamedProcess(20, "notepad.exe"));
  FakeAddProcess(FakeNamedProcess(30, "NotePad.exe"));
  CapturedRun run = RunKill("NOTEPAD.EXE");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 20 : notepad.exe\n");
  EXPECT_EQ(FakeTerminatedIds(), std::vector<DWORD>{20});
  // The search opened candidates for query and read, stopped at the first match, then the
  // kill opened the match again; the later process of the same name was never touched.
  EXPECT_EQ(OpenAccessFor(10), std::vector<DWORD>{0x0410});
  EXPECT_EQ(OpenAccessFor(20), (std::vector<DWORD>{0x0410, 0x0411}));
  EXPECT_TRUE(OpenAccessFor(30).empty());
}

TEST_F(KillCommand, NotFoundEchoesTheTargetUnchanged) {
  FakeAddProcess(FakeNamedProcess(20, "notepad.exe"));
  FakeProcess hidden = FakeNamedProcess(21, "hidden.exe");
  hidden.grants_read = false;
  FakeAddProcess(hidden);
  for (const char* target : {"notepad", "0", "0x1A", "--5", "", "4294967296", "  spaced name",
                             "hidden.exe", "%s%n", "notepad.exe "}) {
    CapturedRun run = RunKill(target);
    EXPECT_EQ(run.result, -2) << target;
    EXPECT_EQ(run.output, std::string("Process not found : ") + target + "\n");
  }
  EXPECT_TRUE(FakeCallsOf(FAKE_TERMINATE).empty());
}

TEST_F(KillCommand, SearchReachesEveryProcessOfALargeSnapshot) {
  FakeAddProcesses(1000, 499, "decoy");
  FakeAddProcess(FakeNamedProcess(5000, "last.exe"));
  CapturedRun run = RunKill("last.exe");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 5000 : last.exe\n");
  EXPECT_EQ(FakeTerminatedIds(), std::vector<DWORD>{5000});
}

TEST_F(KillCommand, SearchPassesOverVolmoItself) {
  FakeAddProcess(FakeNamedProcess(77, "volmo"));  // our own id, see SetUp
  FakeAddProcess(FakeNamedProcess(88, "volmo"));
  CapturedRun run = RunKill("volmo");
  EXPECT_EQ(run.output, "Terminating Process - 88 : volmo\n");
  EXPECT_TRUE(OpenAccessFor(77).empty());

  FakeReset();
  FakeSetOwnProcessId(77);
  FakeAddProcess(FakeNamedProcess(77, "volmo"));
  run = RunKill("volmo");
  EXPECT_EQ(run.result, -2);
  EXPECT_TRUE(FakeCallsOf(FAKE_TERMINATE).empty());
}

TEST_F(KillCommand, UnknownTargetMatchesAProcessWhoseNameCannotBeRead) {
  FakeAddProcess(FakeNamedProcess(10, "named.exe"));
  FakeProcess unreadable = FakeNamedProcess(11, "ghost.exe");
  unreadable.modules_readable = false;
  FakeAddProcess(unreadable);
  CapturedRun run = RunKill("[UNKNOWN]");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "Terminating Process - 11 : [unknown]\n");
}

TEST_F(KillCommand, ByNameSparesAProcessThatTookTheIdAfterTheSearch) {
  FakeProcess reused = FakeNamedProcess(40, "target.exe");
  reused.name_after_first_open = "stranger.exe";
  FakeAddProcess(reused);
  CapturedRun run = RunKill("target.exe");
  EXPECT_EQ(run.result, -2);
  EXPECT_EQ(run.output, "Process not found : target.exe\n");
  EXPECT_TRUE(FakeCallsOf(FAKE_TERMINATE).empty());
}

}  // namespace
