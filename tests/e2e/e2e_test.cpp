// End-to-end tests: the built executable, run as a user would, against victims that the tests
// start under unique names. The same tests run the Linux executable natively and the Windows
// one under a loader (VOLMO_RUNNER), knowing where the bytes differ: CR LF line ends and ".exe"
// names on Windows.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/version_banner.h"
#include "tests/e2e/process_runner.h"

namespace {

const char USAGE[] =
    "Usage: Volmo [command] ...\n"
    "   Volmo -l                                 - list processes\n"
    "   Volmo -k [ProcessID | ProcessName]       - kill process\n";

std::string Env(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

#ifndef VOLMO_DEFAULT_RUNNER
#define VOLMO_DEFAULT_RUNNER ""
#endif
#ifndef VOLMO_DEFAULT_TARGET
#define VOLMO_DEFAULT_TARGET "linux"
#endif

std::string ProgramUnderTest() { return Env("VOLMO_EXE", VOLMO_DEFAULT_EXE); }
std::string VictimProgram() { return Env("VOLMO_VICTIM", VOLMO_DEFAULT_VICTIM); }
std::string Runner() { return Env("VOLMO_RUNNER", VOLMO_DEFAULT_RUNNER); }
bool ForWindows() { return Env("VOLMO_TARGET", VOLMO_DEFAULT_TARGET) == "windows"; }

#ifdef VOLMO_DEFAULT_WINEPREFIX
// Every Wine process of the run shares the prefix that the run made.
struct WineEnvironment : testing::Environment {
  void SetUp() override {
    setenv("WINEPREFIX", VOLMO_DEFAULT_WINEPREFIX, 0);
    setenv("WINEDEBUG", "-all", 0);
  }
};
testing::Environment* const wine_environment =
    testing::AddGlobalTestEnvironment(new WineEnvironment);
#endif

// Text as it leaves the program: every "\n" is CR LF on Windows.
std::string Out(const std::string& text) {
  if (!ForWindows()) return text;
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The victim ended long before its sleep was over: on Linux by SIGKILL. Under Wine the loader
// process ends with status 0 whatever exit code Windows gave the process, so only its end counts.
void ExpectKilled(VictimSet& victims, const Victim& victim) {
  int status = 0;
  ASSERT_TRUE(victims.WaitEnded(victim, &status)) << victim.name << " still runs";
  if (!ForWindows()) {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << victim.name;
  }
}

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    exe_ = ProgramUnderTest();
    if (!Runner().empty()) runner_.push_back(Runner());
    dir_ = MakeTempDir();
    victims_ = std::make_unique<VictimSet>(VictimProgram(), dir_);
  }
  void TearDown() override {
    victims_.reset();
    RemoveTree(dir_);
  }

  RunResult Volmo(const std::vector<std::string>& args, const std::string& program = "") {
    std::vector<std::string> argv = runner_;
    argv.push_back(program.empty() ? exe_ : program);
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = RunProgram(argv, 120);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.err, "") << "Volmo writes only to standard output";
    return result;
  }

  // A unique program name in the platform's form, and a path under it in the test's directory.
  static std::string ProgramName(const char* base) {
    return UniqueName(base) + (ForWindows() ? ".exe" : "");
  }
  std::string ProgramPath(const char* base) { return dir_ + "/" + ProgramName(base); }

  std::string VictimName() { return ProgramName("volmoVictim"); }

  Victim StartVictim(const std::string& name) { return victims_->Start(name, runner_); }

  // The ids that a listing shows for a name, in listing order.
  std::vector<std::string> ListedIds(const std::string& name) {
    RunResult listing = Volmo({"-l"});
    EXPECT_EQ(listing.exit_status, 0);
    std::vector<std::string> ids;
    const std::string tail = "\t" + name + Out("\n");
    size_t start = 0;
    while (start < listing.out.size()) {
      size_t end = listing.out.find('\n', start);
      if (end == std::string::npos) break;
      std::string line = listing.out.substr(start, end + 1 - start);
      size_t tab = line.find('\t');
      if (tab != std::string::npos && line.compare(tab, std::string::npos, tail) == 0) {
        ids.push_back(line.substr(0, tab));
      }
      start = end + 1;
    }
    return ids;
  }

  std::string exe_;
  std::vector<std::string> runner_;
  std::string dir_;
  std::unique_ptr<VictimSet> victims_;
};

std::string Banner(const std::string& version) {
  return "Volmo Version " + version + "\n" + ATTRIBUTION_LINE + "\n";
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  chmod(path.c_str(), 0755);
}

std::string Utf16(const std::string& ascii) {
  std::string wide;
  for (char c : ascii) wide += std::string{c, '\0'};
  return wide;
}

TEST_F(EndToEnd, NoArgumentsPrintBannerThenUsageAndExitOne) {
  RunResult run = Volmo({});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, Out(Banner("1, 0, 0, 2") + USAGE));
}

TEST_F(EndToEnd, RenamedCopyPrintsTheSameBanner) {
  const std::string copy = ProgramPath("renamed");
  CopyExecutable(exe_, copy);
  RunResult run = Volmo({}, copy);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, Out(Banner("1, 0, 0, 2") + USAGE));
}

TEST_F(EndToEnd, VersionLineShowsTheFileVersionStringNotTheFixedPart) {
  const std::string original = ReadFileBytes(exe_);
  // The FileVersion string entry: its key, then (after padding) its value.
  const size_t key = original.find(Utf16("FileVersion"));
  ASSERT_NE(key, std::string::npos);
  const size_t value = original.find(Utf16("1, 0, 0, 2"), key);
  ASSERT_NE(value, std::string::npos);
  ASSERT_LT(value - key, 40u);
  std::string string_changed = original;
  string_changed.replace(value, 20, Utf16("9, 8, 7, 6"));
  // The fixed part: after its signature, the struct version, then file version MS and LS.
  const size_t fixed = original.find(std::string("\xBD\x04\xEF\xFE", 4));
  ASSERT_NE(fixed, std::string::npos);
  std::string fixed_changed = original;
  fixed_changed.replace(fixed + 8, 8, std::string("\x08\x00\x09\x00\x06\x00\x07\x00", 8));

  struct Case {
    std::string bytes, version;
  } cases[] = {{string_changed, "9, 8, 7, 6"}, {fixed_changed, "1, 0, 0, 2"}};
  for (const Case& c : cases) {
    const std::string copy = ProgramPath("patched");
    WriteFileBytes(copy, c.bytes);
    RunResult run = Volmo({}, copy);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, Out(Banner(c.version) + USAGE));
  }
}

// Hides the version section of an ELF file by renaming it: the file then has no version.
bool HideElfVersionSection(std::string& elf) {
  const size_t at = elf.find(std::string(".vs_version_info") + '\0');
  if (at == std::string::npos) return false;
  elf[at + 1] = 'X';
  return true;
}

std::uint32_t Little(const std::string& b, size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(b.at(at + i));
  return value;
}

// The offset of the numbered type entries in a PE file's resource root directory, and their
// count; 0 when the file has no resource section.
size_t PeResourceTypes(const std::string& pe, size_t* count) {
  const size_t header = Little(pe, 0x3C, 4);
  if (pe.compare(header, 4, std::string("PE\0\0", 4)) != 0) return 0;
  const size_t sections = Little(pe, header + 6, 2);
  const size_t table = header + 24 + Little(pe, header + 20, 2);
  for (size_t i = 0; i < sections; ++i) {
    const size_t section = table + 40 * i;
    if (pe.compare(section, 6, std::string(".rsrc\0", 6)) != 0) continue;
    const size_t root = Little(pe, section + 20, 4);
    const size_t named = Little(pe, root + 12, 2);
    *count = Little(pe, root + 14, 2);
    return root + 16 + 8 * named;
  }
  return 0;
}

// Hides the version resource of a PE file: its type in the resource root directory is
// renumbered from RT_VERSION (16) to 17, which nothing looks up (the order stays sorted).
bool HidePeVersionResource(std::string& pe) {
  size_t count = 0;
  const size_t entries = PeResourceTypes(pe, &count);
  for (size_t k = 0; entries != 0 && k < count; ++k) {
    if (Little(pe, entries + 8 * k, 4) == 16) {
      pe[entries + 8 * k] = 17;
      return true;
    }
  }
  return false;
}

TEST_F(EndToEnd, WindowsExecutableCarriesItsIconAndVersionResources) {
  if (!ForWindows()) GTEST_SKIP() << "ELF has no icon; the Linux version block is tested apart";
  const std::string pe = ReadFileBytes(exe_);
  size_t count = 0;
  const size_t entries = PeResourceTypes(pe, &count);
  ASSERT_NE(entries, 0u) << "no resource section";
  std::vector<std::uint32_t> types;
  for (size_t k = 0; k < count; ++k) types.push_back(Little(pe, entries + 8 * k, 4));
  // RT_ICON, RT_GROUP_ICON, RT_VERSION.
  EXPECT_EQ(types, (std::vector<std::uint32_t>{3, 14, 16}));
}

TEST_F(EndToEnd, ExecutableWithoutVersionInformationShowsUnknown) {
  std::string bytes = ReadFileBytes(exe_);
  ASSERT_TRUE(ForWindows() ? HidePeVersionResource(bytes) : HideElfVersionSection(bytes));
  const std::string copy = ProgramPath("unversioned");
  WriteFileBytes(copy, bytes);
  RunResult run = Volmo({}, copy);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, Out(Banner("Unknown") + USAGE));
}

TEST_F(EndToEnd, KillWithoutTargetPrintsUsageAndExitsOne) {
  RunResult run = Volmo({"-k"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, Out(USAGE));
}

TEST_F(EndToEnd, UnknownCommandIsEchoedWithoutLineBreak) {
  for (const char* word : {"-x", "", "%s%n"}) {
    RunResult run = Volmo({word});
    EXPECT_EQ(run.exit_status, 0) << word;
    EXPECT_EQ(run.out, std::string("Unknown command: ") + word);
  }
}

TEST_F(EndToEnd, ListingHasOneWellFormedLinePerProcessAndShowsTheVictims) {
  Victim first = StartVictim(VictimName());
  Victim second = StartVictim(VictimName());
  RunResult run = Volmo({"-L", "ignored"});
  EXPECT_EQ(run.exit_status, 0);
  const std::regex line_format(ForWindows() ? "-?[0-9]+\t[^\t\r\n]*\r\n" : "-?[0-9]+\t[^\t\n]*\n");
  size_t start = 0, lines = 0;
  while (start < run.out.size()) {
    size_t end = run.out.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the listing ends inside a line";
    std::string line = run.out.substr(start, end + 1 - start);
    EXPECT_TRUE(std::regex_match(line, line_format)) << line;
    ++lines;
    start = end + 1;
  }
  EXPECT_GE(lines, 3u);
  if (ForWindows()) {
    EXPECT_NE(run.out.find("\tservices.exe\r\n"), std::string::npos) << "Wine's own processes";
  }
  for (const Victim& victim : {first, second}) {
    std::vector<std::string> ids = ListedIds(victim.name);
    ASSERT_EQ(ids.size(), 1u) << victim.name;
    if (!ForWindows()) {
      EXPECT_EQ(ids[0], std::to_string(victim.pid));
    }
  }
}

TEST_F(EndToEnd, KillByIdTerminatesThatProcess) {
  Victim victim = StartVictim(VictimName());
  Victim bystander = StartVictim(VictimName());
  std::vector<std::string> ids = ListedIds(victim.name);
  ASSERT_EQ(ids.size(), 1u);
  RunResult run = Volmo({"-k", ids[0]});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, Out("Terminating Process - " + ids[0] + " : " + victim.name + "\n"));
  ExpectKilled(*victims_, victim);
  EXPECT_TRUE(victims_->IsRunning(bystander));
}

TEST_F(EndToEnd, KillByNameInAnotherCaseTerminatesTheFirstOfThatName) {
  const std::string name = VictimName();
  Victim first = StartVictim(name);
  Victim second = StartVictim(name);
  std::vector<std::string> ids = ListedIds(name);
  ASSERT_EQ(ids.size(), 2u);
  RunResult run = Volmo({"-K", Upper(name), "further"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, Out("Terminating Process - " + ids[0] + " : " + name + "\n"));
  // Exactly one of the two ended: the one listed first.
  std::vector<std::string> left = ListedIds(name);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0], ids[1]);
  const Victim& killed = victims_->IsRunning(first) ? second : first;
  ExpectKilled(*victims_, killed);
}

TEST_F(EndToEnd, NameMustMatchWhollyAndUnknownNamesAreNotFound) {
  const std::string base = UniqueName("volmoVictim");
  Victim victim = StartVictim(base + ".exe");
  for (const std::string& target : {base, base + ".ex", UniqueName("volmoNobody")}) {
    RunResult run = Volmo({"-k", target});
    EXPECT_EQ(run.exit_status, 254) << target;
    EXPECT_EQ(run.out, Out("Process not found : " + target + "\n"));
  }
  EXPECT_TRUE(victims_->IsRunning(victim));
}

TEST_F(EndToEnd, IdThatNoProcessHasIsAnOpenError) {
  struct Case {
    const char* target;
    const char* output;
  } cases[] = {
      {"2147483644", "Error: Opening process: 2147483644\n"},
      {"-8", "Error: Opening process: -8\n"},
  };
  for (const Case& c : cases) {
    RunResult run = Volmo({"-k", c.target});
    EXPECT_EQ(run.exit_status, 255) << c.target;
    EXPECT_EQ(run.out, Out(c.output));
  }
}

TEST_F(EndToEnd, SearchByNameNeverPicksVolmoItself) {
  // A copy of Volmo under a unique name looks for its own name: it must go on and report.
  const std::string name = ProgramName("volmoSelf");
  const std::string copy = dir_ + "/" + name;
  CopyExecutable(exe_, copy);
  RunResult run = Volmo({"-k", name}, copy);
  EXPECT_EQ(run.exit_status, 254);
  EXPECT_EQ(run.out, Out("Process not found : " + name + "\n"));
}

// Processes start and end all the time while Volmo lists and kills: every run ends by itself
// with a well-formed answer, and of all the processes the test starts, only the ones it named
// to Volmo ever die by its hand.
TEST_F(EndToEnd, ChurnNeverCrashesAndNeverKillsTheWrongProcess) {
  if (ForWindows()) GTEST_SKIP() << "churn runs against the Linux build";
  const std::string others = UniqueName("churnOther");
  std::atomic<bool> stop{false};
  std::atomic<int> started{0}, wrongly_killed{0};
  std::thread churner([&] {
    // Keeps about twenty bystanders alive, ending each itself with SIGTERM after a moment.
    std::vector<pid_t> alive;
    for (int i = 0; !stop || !alive.empty(); ++i) {
      if (!stop) {
        const std::string path = dir_ + "/" + others + "-" + std::to_string(i);
        pid_t pid = link(victims_->program().c_str(), path.c_str()) == 0 ? fork() : -1;
        if (pid == 0) {
          int null = open("/dev/null", O_WRONLY);
          dup2(null, 1);
          execl(path.c_str(), path.c_str(), "60", static_cast<char*>(nullptr));
          _exit(127);
        }
        if (pid > 0) {
          alive.push_back(pid);
          ++started;
        }
      }
      if (alive.size() > 20 || (stop && !alive.empty())) {
        pid_t pid = alive.front();
        alive.erase(alive.begin());
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ++wrongly_killed;
      }
      usleep(2000);
    }
  });
  // However the test ends, the churner stops and ends its bystanders.
  struct Joiner {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Joiner() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } joiner{stop, churner};
  const std::regex line_format("-?[0-9]+\t[^\t\n]*\n");
  for (int round = 0; round < 100; ++round) {
    RunResult listing = Volmo({"-l"});
    ASSERT_EQ(listing.exit_status, 0);
    size_t start = 0;
    while (start < listing.out.size()) {
      size_t end = listing.out.find('\n', start);
      ASSERT_NE(end, std::string::npos);
      ASSERT_TRUE(std::regex_match(listing.out.substr(start, end + 1 - start), line_format));
      start = end + 1;
    }
    Victim target = StartVictim(VictimName());
    RunResult kill = Volmo({"-k", target.name});
    EXPECT_EQ(kill.exit_status, 0);
    EXPECT_EQ(kill.out,
              "Terminating Process - " + std::to_string(target.pid) + " : " + target.name + "\n");
    ExpectKilled(*victims_, target);
  }
  stop = true;
  churner.join();
  EXPECT_GT(started.load(), 100);
  EXPECT_EQ(wrongly_killed.load(), 0);
}

// As root, the same program run as an unprivileged user sees and ends only what that user may.
class Unprivileged : public EndToEnd {
 protected:
  void SetUp() override {
    if (ForWindows() || geteuid() != 0) GTEST_SKIP() << "needs root on Linux to switch users";
    EndToEnd::SetUp();
    user_exe_ = dir_ + "/volmo";
    CopyExecutable(exe_, user_exe_);
  }
  RunResult VolmoAsNobody(const std::vector<std::string>& args) {
    std::vector<std::string> argv = AsNobody();
    argv.push_back(user_exe_);
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = RunProgram(argv, 120);
    EXPECT_EQ(result.err, "");
    return result;
  }
  static std::vector<std::string> AsNobody() {
    return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  std::string user_exe_;
};

TEST_F(Unprivileged, SeesOnlyItsOwnProcessesAndCannotKillRoots) {
  Victim roots = StartVictim(VictimName());
  Victim own = victims_->Start(VictimName(), AsNobody());
  RunResult listing = VolmoAsNobody({"-l"});
  EXPECT_EQ(listing.exit_status, 0);
  EXPECT_EQ(listing.out.find("\t" + roots.name + "\n"), std::string::npos);
  EXPECT_NE(listing.out.find(std::to_string(own.pid) + "\t" + own.name + "\n"), std::string::npos);
  EXPECT_EQ(("\n" + listing.out).find("\n1\t"), std::string::npos) << "pid 1 belongs to root";

  const std::string id = std::to_string(roots.pid);
  RunResult kill = VolmoAsNobody({"-k", id});
  EXPECT_EQ(kill.exit_status, 255);
  EXPECT_EQ(kill.out, "Error: Opening process: " + id + "\n");
  kill = VolmoAsNobody({"-k", roots.name});
  EXPECT_EQ(kill.exit_status, 254);
  EXPECT_TRUE(victims_->IsRunning(roots));
}

TEST_F(Unprivileged, KillsItsNonDumpableProcessByIdWithoutItsName) {
  Victim guarded = victims_->Start(VictimName(), AsNobody(), {"nondumpable"});
  const std::string id = std::to_string(guarded.pid);
  RunResult listing = VolmoAsNobody({"-l"});
  EXPECT_EQ(listing.out.find(guarded.name), std::string::npos);
  RunResult kill = VolmoAsNobody({"-k", id});
  EXPECT_EQ(kill.exit_status, 0);
  EXPECT_EQ(kill.out, "Terminating Process - " + id + " : [unknown]\n");
  ExpectKilled(*victims_, guarded);
}

}  // namespace
