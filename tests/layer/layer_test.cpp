// Our Linux layer against real processes: children that the tests start themselves.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process/kill_command.h"
#include "process/process_list.h"
#include "process/process_services.h"
#include "tests/e2e/process_runner.h"

namespace {

const DWORD READ_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

std::vector<DWORD> EnumerateAll() {
  std::vector<DWORD> ids(1 << 16);
  DWORD bytes = 0;
  EXPECT_TRUE(EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes));
  EXPECT_EQ(bytes % sizeof(DWORD), 0u);
  ids.resize(bytes / sizeof(DWORD));
  return ids;
}

std::string NameOf(DWORD id, DWORD access = READ_ACCESS) {
  HANDLE process = OpenProcess(access, FALSE, id);
  if (process == nullptr) return "(no handle)";
  char name[MAX_PATH];
  GetProcessName(process, name, sizeof(name));
  CloseHandle(process);
  return name;
}

char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() ? 0 : text[paren + 2];
}

void ExpectKilled(VictimSet& victims, const Victim& victim) {
  int status = 0;
  ASSERT_TRUE(victims.WaitEnded(victim, &status)) << victim.name << " still runs";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << victim.name;
}

class Layer : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    victims_ = std::make_unique<VictimSet>(VOLMO_VICTIM_PATH, dir_);
  }
  void TearDown() override {
    victims_.reset();
    RemoveTree(dir_);
  }
  std::string dir_;
  std::unique_ptr<VictimSet> victims_;
};

TEST_F(Layer, EnumeratesAndNamesAChild) {
  Victim child = victims_->Start(UniqueName("layerChild"));
  std::vector<DWORD> ids = EnumerateAll();
  EXPECT_NE(std::find(ids.begin(), ids.end(), static_cast<DWORD>(child.pid)), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), static_cast<DWORD>(getpid())), ids.end());
  EXPECT_EQ(NameOf(child.pid), child.name);
}

TEST_F(Layer, EnumerationFillsASmallBufferFromTheFront) {
  DWORD ids[3] = {0, 0, 0};
  DWORD bytes = 12345;
  EXPECT_TRUE(EnumProcesses(ids, 2 * sizeof(DWORD) + 3, &bytes));
  EXPECT_EQ(bytes, 2 * sizeof(DWORD));
  EXPECT_EQ(ids[2], 0u);
}

TEST_F(Layer, GrownRetryGetsTheWholePictureAndLaterCallsAFreshOne) {
  DWORD first[2];
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcesses(first, sizeof(first), &bytes));
  ASSERT_EQ(bytes, sizeof(first));  // more processes than fit: the rest is kept for a retry
  std::vector<DWORD> retry = EnumerateAll();
  ASSERT_GT(retry.size(), 2u);
  EXPECT_EQ(retry[0], first[0]);
  EXPECT_EQ(retry[1], first[1]);

  // A process started after the window of a retry is seen by the next call.
  ASSERT_TRUE(EnumProcesses(first, sizeof(first), &bytes));
  usleep(150 * 1000);
  Victim child = victims_->Start(UniqueName("layerFresh"));
  std::vector<DWORD> fresh = EnumerateAll();
  EXPECT_NE(std::find(fresh.begin(), fresh.end(), static_cast<DWORD>(child.pid)), fresh.end());
}

TEST_F(Layer, ThreadsAreNotProcesses) {
  pid_t thread_id = 0;
  bool done = false;
  std::thread worker([&] {
    thread_id = static_cast<pid_t>(syscall(SYS_gettid));
    while (!__atomic_load_n(&done, __ATOMIC_SEQ_CST)) usleep(1000);
  });
  while (__atomic_load_n(&thread_id, __ATOMIC_SEQ_CST) == 0) usleep(1000);
  std::vector<DWORD> ids = EnumerateAll();
  EXPECT_EQ(std::find(ids.begin(), ids.end(), static_cast<DWORD>(thread_id)), ids.end());
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(thread_id)), nullptr);
  __atomic_store_n(&done, true, __ATOMIC_SEQ_CST);
  worker.join();
}

TEST_F(Layer, IdsThatNameNoProcessDoNotOpen) {
  for (DWORD id : {0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFBu, 4194305u}) {
    for (DWORD access : {READ_ACCESS, READ_ACCESS | PROCESS_TERMINATE, DWORD{PROCESS_TERMINATE}}) {
      EXPECT_EQ(OpenProcess(access, FALSE, id), nullptr) << id << " " << access;
    }
  }
}

TEST_F(Layer, ZombieOpensAndNamesUnknown) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  while (ProcessState(child) != 'Z') usleep(1000);
  EXPECT_EQ(NameOf(child), "[unknown]");
  std::vector<DWORD> ids = EnumerateAll();
  EXPECT_NE(std::find(ids.begin(), ids.end(), static_cast<DWORD>(child)), ids.end());
  waitpid(child, nullptr, 0);
}

TEST_F(Layer, RightsGoverneWhatAHandleCanDo) {
  Victim child = victims_->Start(UniqueName("layerRights"));
  const DWORD id = static_cast<DWORD>(child.pid);
  HMODULE module = nullptr;
  DWORD needed = 0;

  HANDLE terminate_only = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  ASSERT_NE(terminate_only, nullptr);
  EXPECT_FALSE(EnumProcessModules(terminate_only, &module, sizeof(module), &needed));
  CloseHandle(terminate_only);

  HANDLE read_only = OpenProcess(READ_ACCESS, FALSE, id);
  ASSERT_NE(read_only, nullptr);
  EXPECT_TRUE(EnumProcessModules(read_only, &module, sizeof(module), &needed));
  char cut[5];
  EXPECT_EQ(GetModuleBaseNameA(read_only, module, cut, sizeof(cut)), 4u);
  EXPECT_EQ(std::string(cut), child.name.substr(0, 4));
  EXPECT_FALSE(TerminateProcess(read_only, 1));
  CloseHandle(read_only);
  EXPECT_TRUE(victims_->IsRunning(child));
}

TEST_F(Layer, ReplacedExecutableKeepsItsName) {
  Victim child = victims_->Start(UniqueName("layerDeleted"));
  ASSERT_EQ(unlink((dir_ + "/" + child.name).c_str()), 0);
  EXPECT_EQ(NameOf(child.pid), child.name);
}

TEST_F(Layer, TerminationReachesTheOpenedProcessOnly) {
  Victim child = victims_->Start(UniqueName("layerKill"));
  HANDLE process = OpenProcess(READ_ACCESS | PROCESS_TERMINATE, FALSE, child.pid);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(TerminateProcess(process, 0xFFFFFFFF));
  ExpectKilled(*victims_, child);
  // Reaped: the id may now go to another process, but the handle still means the old one.
  EXPECT_FALSE(TerminateProcess(process, 0xFFFFFFFF));
  CloseHandle(process);
}

std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(dir)) {
      fds.push_back(std::atoi(entry->d_name));
    }
  }
  closedir(dir);
  return fds;
}

// Asks the kernel to give the next new process the id given, by setting the last id it gave.
bool ArrangeNextPid(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  last << (pid - 1);
  last.flush();
  return static_cast<bool>(last);
}

TEST_F(Layer, TerminationNeverReachesALaterProcessWithTheSameId) {
  if (geteuid() != 0) GTEST_SKIP() << "arranging an id's reuse needs root";
  Victim first = victims_->Start(UniqueName("layerFirst"));
  HANDLE process = OpenProcess(READ_ACCESS | PROCESS_TERMINATE, FALSE, first.pid);
  ASSERT_NE(process, nullptr);
  // The opened process ends and is reaped; then another takes its id.
  kill(first.pid, SIGKILL);
  int status = 0;
  ASSERT_TRUE(victims_->WaitEnded(first, &status));
  bool reused = false;
  for (int attempt = 0; attempt < 50 && !reused; ++attempt) {
    if (!ArrangeNextPid(first.pid)) break;
    Victim second = victims_->Start(UniqueName("layerSecond"));
    reused = (second.pid == first.pid);
    if (!reused) continue;
    // The handle still means the first process: the newcomer is left alone.
    EXPECT_FALSE(TerminateProcess(process, 0xFFFFFFFF));
    usleep(50 * 1000);
    EXPECT_TRUE(victims_->IsRunning(second));
  }
  CloseHandle(process);
  if (!reused) GTEST_SKIP() << "the kernel would not hand out the id again here";
}

TEST_F(Layer, ProcessThatEndsBetweenOpenAndTerminationIsNeverAWrongKill) {
  Victim child = victims_->Start(UniqueName("layerEnding"));
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, child.pid);
  ASSERT_NE(process, nullptr);
  kill(child.pid, SIGTERM);
  while (ProcessState(child.pid) != 'Z') usleep(1000);
  // Ended, not yet reaped: signalling it is a clean success that changes nothing.
  TerminateProcess(process, 0xFFFFFFFF);
  int status = 0;
  ASSERT_TRUE(victims_->WaitEnded(child, &status));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  // Reaped: the termination is refused.
  EXPECT_FALSE(TerminateProcess(process, 0xFFFFFFFF));
  CloseHandle(process);
}

TEST_F(Layer, TerminateHandleHoldsOneDescriptorThatNoChildInherits) {
  Victim child = victims_->Start(UniqueName("layerCloexec"));
  std::vector<int> before = OpenDescriptors();
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, child.pid);
  ASSERT_NE(process, nullptr);
  std::vector<int> added;
  for (int fd : OpenDescriptors()) {
    if (std::find(before.begin(), before.end(), fd) == before.end()) added.push_back(fd);
  }
  ASSERT_EQ(added.size(), 1u);
  EXPECT_NE(fcntl(added[0], F_GETFD) & FD_CLOEXEC, 0);
  CloseHandle(process);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(Layer, KernelThreadsAreNeverOpenedForRead) {
  // kthreadd is pid 2 where the kernel's threads are visible at all.
  std::ifstream stat("/proc/2/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  if (text.find("(kthreadd)") == std::string::npos) GTEST_SKIP() << "pid 2 is not kthreadd";
  EXPECT_EQ(OpenProcess(READ_ACCESS, FALSE, 2), nullptr);
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, 2), nullptr);
}

// Runs a piece of the program with standard output sent to /dev/null.
template <typename Function>
void Quietly(Function function) {
  std::fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, 1);
  close(null);
  function();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
}

TEST_F(Layer, ListingOfThousandsOfProcessesLeavesNoDescriptorBehind) {
  // 4000 sleepers, hard links of the victim under names of their own.
  const int count = 4000;
  std::vector<pid_t> sleepers;
  for (int i = 0; i < count; ++i) {
    const std::string path = dir_ + "/layerMany-" + std::to_string(i);
    ASSERT_EQ(link(VOLMO_VICTIM_PATH, path.c_str()), 0);
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execl(path.c_str(), path.c_str(), "120", static_cast<char*>(nullptr));
      _exit(127);
    }
    sleepers.push_back(pid);
  }
  for (pid_t pid : sleepers) {  // each has run its exec
    while (NameOf(static_cast<DWORD>(pid)).rfind("layerMany-", 0) != 0) usleep(1000);
  }
  const std::vector<int> before = OpenDescriptors();
  std::vector<DWORD> snapshot;
  Quietly([&] {
    ListProcesses();
    snapshot = TakeProcessSnapshot();
  });
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_GE(snapshot.size(), static_cast<size_t>(count));
  for (pid_t pid : sleepers) kill(pid, SIGKILL);
  for (pid_t pid : sleepers) waitpid(pid, nullptr, 0);
}

TEST_F(Layer, EveryKillPathLeavesNoDescriptorBehind) {
  Victim by_id = victims_->Start(UniqueName("layerLeakId"));
  Victim by_name = victims_->Start(UniqueName("layerLeakName"));
  const std::vector<int> before = OpenDescriptors();
  int results[4] = {};
  Quietly([&] {
    results[0] = KillProcess(std::to_string(by_id.pid).c_str());
    results[1] = KillProcess(by_name.name.c_str());
    results[2] = KillProcess(UniqueName("layerNobody").c_str());
    results[3] = KillProcess("2147483644");
  });
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], -2);
  EXPECT_EQ(results[3], -1);
  ExpectKilled(*victims_, by_id);
  ExpectKilled(*victims_, by_name);
  // More opens and closes than there are handle slots: every slot comes back.
  for (int round = 0; round < 100; ++round) {
    HANDLE process = OpenProcess(READ_ACCESS | PROCESS_TERMINATE, FALSE, getpid());
    ASSERT_NE(process, nullptr) << "round " << round;
    CloseHandle(process);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
