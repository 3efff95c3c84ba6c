// Starting programs and victims for the layer and end-to-end tests.
#ifndef VOLMO_TESTS_E2E_PROCESS_RUNNER_H
#define VOLMO_TESTS_E2E_PROCESS_RUNNER_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct RunResult {
  int exit_status;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
  bool timed_out;
};

// Runs a program to its end (killing it after timeout_seconds) and captures both outputs.
RunResult RunProgram(const std::vector<std::string>& argv, int timeout_seconds = 60);

// A directory of its own under /tmp, readable and searchable by every user; removed with its
// contents by RemoveTree.
std::string MakeTempDir();
void RemoveTree(const std::string& dir);
void CopyExecutable(const std::string& from, const std::string& to);

// A name that no other process on the machine bears.
std::string UniqueName(const std::string& base);

struct Victim {
  pid_t pid;         // the process we started (the loader, where there is one)
  std::string name;  // the file name it runs under
};

// The victims one test starts. Each runs the victim program under its own name (a hard link)
// in a directory of the set's, started with an optional command prefix (a user switch, a loader).
// Whatever is still running when the set is destroyed is ended: only processes it started.
class VictimSet {
 public:
  VictimSet(const std::string& victim_program, const std::string& dir);
  ~VictimSet();
  Victim Start(const std::string& name, const std::vector<std::string>& prefix = {},
               const std::vector<std::string>& extra_args = {});
  bool IsRunning(const Victim& victim);
  // Waits up to timeout_seconds for the victim, which would otherwise sleep for minutes, to end.
  // True when it ended; its wait status is then in *status.
  bool WaitEnded(const Victim& victim, int* status, int timeout_seconds = 20);
  const std::string& dir() const { return dir_; }
  // The set's copy of the victim program, to link more names to.
  const std::string& program() const { return program_; }

 private:
  std::string program_;
  std::string dir_;
  std::vector<pid_t> running_;
  std::map<pid_t, int> ended_status_;
};

#endif
