#include "tests/e2e/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<char*> ArgumentVector(const std::vector<std::string>& argv) {
  std::vector<char*> result;
  for (const std::string& arg : argv) result.push_back(const_cast<char*>(arg.c_str()));
  result.push_back(nullptr);
  return result;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Starts argv with stdout and stderr on fresh pipes (either may be skipped with nullptr).
pid_t Spawn(const std::vector<std::string>& argv, int* out_fd, int* err_fd) {
  int out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (out_fd && pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (err_fd && pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd) posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  if (err_fd) posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  std::vector<char*> args = ArgumentVector(argv);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd) close(out_pipe[1]);
  if (err_fd) close(err_pipe[1]);
  if (rc != 0) {
    if (out_fd) close(out_pipe[0]);
    if (err_fd) close(err_pipe[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  if (out_fd) *out_fd = out_pipe[0];
  if (err_fd) *err_fd = err_pipe[0];
  return pid;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, int timeout_seconds) {
  RunResult result{-1, "", "", false};
  int out_fd = -1, err_fd = -1;
  pid_t pid = Spawn(argv, &out_fd, &err_fd);
  const double deadline = Now() + timeout_seconds;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    int wait_ms = static_cast<int>((deadline - Now()) * 1000);
    if (wait_ms <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, wait_ms) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

std::string MakeTempDir() {
  char pattern[] = "/tmp/volmo-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  chmod(pattern, 0755);
  return pattern;
}

void RemoveTree(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void CopyExecutable(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  chmod(to.c_str(), 0755);
}

std::string UniqueName(const std::string& base) {
  static std::atomic<int> counter{0};
  return base + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
         std::to_string(static_cast<unsigned>(Now() * 1000) % 100000);
}

VictimSet::VictimSet(const std::string& victim_program, const std::string& dir)
    : program_(dir + "/.victim"), dir_(dir) {
  // One copy, made before any victim starts; each victim is a hard link to it under its own
  // name. No file is written while processes are forked, so none can inherit a descriptor
  // open for writing and make the exec of another victim fail with ETXTBSY.
  CopyExecutable(victim_program, program_);
}

VictimSet::~VictimSet() {
  for (pid_t pid : running_) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

Victim VictimSet::Start(const std::string& name, const std::vector<std::string>& prefix,
                        const std::vector<std::string>& extra_args) {
  const std::string path = dir_ + "/" + name;
  if (access(path.c_str(), X_OK) != 0 && link(program_.c_str(), path.c_str()) != 0) {
    throw std::runtime_error("cannot link " + path);
  }
  std::vector<std::string> argv = prefix;
  argv.push_back(path);
  argv.push_back("240");
  argv.insert(argv.end(), extra_args.begin(), extra_args.end());
  int out_fd = -1;
  pid_t pid = Spawn(argv, &out_fd, nullptr);
  running_.push_back(pid);
  // Wait for its "ready": only then is it what the test expects (renamed, non-dumpable).
  std::string said;
  const double deadline = Now() + 60;
  while (said.find('\n') == std::string::npos && Now() < deadline) {
    pollfd fd = {out_fd, POLLIN, 0};
    if (poll(&fd, 1, 1000) <= 0) continue;
    char buffer[64];
    ssize_t n = read(out_fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    said.append(buffer, static_cast<size_t>(n));
  }
  close(out_fd);
  if (said.rfind("ready", 0) != 0) throw std::runtime_error("victim did not start: " + name);
  return Victim{pid, name};
}

bool VictimSet::IsRunning(const Victim& victim) {
  if (std::find(running_.begin(), running_.end(), victim.pid) == running_.end()) return false;
  int status = 0;
  pid_t reaped = waitpid(victim.pid, &status, WNOHANG);
  if (reaped == 0) return true;
  running_.erase(std::remove(running_.begin(), running_.end(), victim.pid), running_.end());
  ended_status_[victim.pid] = status;
  return false;
}

bool VictimSet::WaitEnded(const Victim& victim, int* status, int timeout_seconds) {
  const double deadline = Now() + timeout_seconds;
  while (IsRunning(victim)) {
    if (Now() > deadline) return false;
    usleep(5000);
  }
  auto ended = ended_status_.find(victim.pid);
  if (ended == ended_status_.end()) return false;
  *status = ended->second;
  return true;
}
