#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "process/process_list.h"
#include "tests/fake/fake_process_table.h"
#include "tests/unit/capture.h"

namespace {

class Listing : public testing::Test {
 protected:
  void SetUp() override { FakeReset(); }
  void TearDown() override { EXPECT_EQ(FakeOpenHandleCount(), 0) << "a handle was left open"; }
};

TEST_F(Listing, PrintsEveryOpenableProcessInSnapshotOrder) {
  FakeAddProcess(FakeNamedProcess(4, "System"));
  FakeProcess denied = FakeNamedProcess(8, "secret.exe");
  denied.grants_read = false;
  FakeAddProcess(denied);
  FakeAddProcess(FakeNamedProcess(4000000000u, "big.exe"));  // printed as a signed number
  FakeProcess no_modules = FakeNamedProcess(12, "zombie.exe");
  no_modules.modules_readable = false;
  FakeAddProcess(no_modules);
  FakeProcess read_fails = FakeNamedProcess(16, "flaky.exe");
  read_fails.base_name_fails = true;
  FakeAddProcess(read_fails);
  FakeAddProcess(FakeNamedProcess(3, "a b%s.exe"));

  CapturedRun run = RunCaptured(ListProcesses);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output,
            "4\tSystem\n"
            "-294967296\tbig.exe\n"
            "12\t[unknown]\n"  // never the name of the process before it
            "16\t[unknown]\n"
            "3\ta b%s.exe\n");
}

TEST_F(Listing, OpensForQueryAndReadOneAtATimeAndClosesEach) {
  FakeAddProcesses(100, 5, "p");
  FakeProcess denied = FakeNamedProcess(200, "denied.exe");
  denied.grants_read = false;
  FakeAddProcess(denied);
  RunCaptured(ListProcesses);
  std::vector<FakeCall> opens = FakeCallsOf(FAKE_OPEN);
  ASSERT_EQ(opens.size(), 6u);
  for (const FakeCall& open : opens) EXPECT_EQ(open.access, 0x0410u);
  EXPECT_EQ(FakeCallsOf(FAKE_CLOSE).size(), 5u);
  EXPECT_EQ(FakeOpenHandleCount(), 0);
  EXPECT_EQ(FakeMostHandlesOpenAtOnce(), 1);
  EXPECT_TRUE(FakeCallsOf(FAKE_TERMINATE).empty());
}

TEST_F(Listing, SnapshotGrowsPastTheFirstCapacity) {
  FakeAddProcesses(1000, 500, "p");
  CapturedRun run = RunCaptured(ListProcesses);
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 500);
  EXPECT_NE(run.output.find("1499\tp499.exe\n"), std::string::npos);
  // 200, then 400, then 800 ids: the last buffer was not filled.
  std::vector<FakeCall> enums = FakeCallsOf(FAKE_ENUM);
  ASSERT_EQ(enums.size(), 3u);
  EXPECT_EQ(enums[0].id, 800u);
  EXPECT_EQ(enums[2].id, 3200u);
}

TEST_F(Listing, SnapshotOfExactlyTheFirstCapacityAsksOnceMore) {
  FakeAddProcesses(1, 200, "p");
  EXPECT_EQ(TakeProcessSnapshot().size(), 200u);
  EXPECT_EQ(FakeCallsOf(FAKE_ENUM).size(), 2u);
}

TEST_F(Listing, FailedEnumerationIsAnEmptyListing) {
  FakeAddProcesses(1, 3, "p");
  FakeSetEnumerationFails(true);
  CapturedRun run = RunCaptured(ListProcesses);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(FakeCallsOf(FAKE_OPEN).empty());
}

TEST_F(Listing, ByteCountIsRoundedDownToWholeIds) {
  FakeAddProcesses(1, 3, "p");
  FakeSetExtraBytesReported(3);
  DWORD ids[MAX_PROCESS_IDS];
  EXPECT_EQ(EnumProcessIds(ids, sizeof(ids)), 3u);
}

TEST(GetProcessName, AlwaysLeavesAZeroTerminatedName) {
  FakeReset();
  FakeProcess long_name = FakeNamedProcess(1, std::string(300, 'n'));
  long_name.base_name_unterminated = true;
  FakeAddProcess(long_name);
  FakeProcess terminate_only = FakeNamedProcess(2, "kill-only.exe");
  FakeAddProcess(terminate_only);

  char name[MAX_PATH];
  std::memset(name, 'Z', sizeof(name));
  HANDLE process = OpenProcess(0x0410, FALSE, 1);
  GetProcessName(process, name, sizeof(name));
  CloseHandle(process);
  EXPECT_EQ(std::string(name), std::string(MAX_PATH - 1, 'n'));

  // A handle with terminate rights alone cannot read the module list.
  process = OpenProcess(0x0001, FALSE, 2);
  GetProcessName(process, name, sizeof(name));
  CloseHandle(process);
  EXPECT_STREQ(name, "[unknown]");
}

}  // namespace
