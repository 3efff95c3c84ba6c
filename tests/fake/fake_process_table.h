// A fake process table that the unit tests link in place of the platform layer. It answers the
// process services from a table the test fills in, and records every call, so that tests can
// check the exact calls the program makes and that every handle it opens is closed.
#ifndef VOLMO_TESTS_FAKE_PROCESS_TABLE_H
#define VOLMO_TESTS_FAKE_PROCESS_TABLE_H

#include <string>
#include <vector>

#include "process/process_services.h"

struct FakeProcess {
  DWORD id = 0;
  std::string name;
  bool grants_read = true;       // query information and memory read
  bool grants_terminate = true;  // terminate
  bool modules_readable = true;
  bool base_name_fails = false;
  bool base_name_unterminated = false;  // fills the buffer without a terminating zero
  bool terminate_refused = false;
  // When not empty, every open after the first finds this name under the id: the process
  // ended and another took its id.
  std::string name_after_first_open;
};

enum FakeCallKind { FAKE_ENUM, FAKE_OPEN, FAKE_CLOSE, FAKE_TERMINATE };

struct FakeCall {
  FakeCallKind kind;
  DWORD id;      // the process id (FAKE_ENUM: the buffer size in bytes)
  DWORD access;  // FAKE_OPEN: the access asked for
  UINT exit_code;
  bool succeeded;
};

// A process of that id and name that grants every right and reads normally.
FakeProcess FakeNamedProcess(DWORD id, const std::string& name);

void FakeReset();
void FakeAddProcess(const FakeProcess& process);
void FakeAddProcesses(DWORD first_id, int count, const std::string& name_prefix);
void FakeSetOwnProcessId(DWORD id);
void FakeSetEnumerationFails(bool fails);
// Bytes added to the count the enumeration reports, to model a count that is not whole ids.
void FakeSetExtraBytesReported(DWORD extra);

// The module and version services. By default the executable is "C:\\volmo\\volmo.exe" and
// its version information holds FileVersion "1, 0, 0, 2" under the string table "0c0904b0".
enum FakeVersionFault {
  FAKE_VERSION_OK,
  FAKE_PATH_FAILS,       // GetModuleFileNameA reads nothing
  FAKE_PATH_TRUNCATED,   // GetModuleFileNameA fills the buffer: the path did not fit
  FAKE_NO_VERSION_INFO,  // GetFileVersionInfoSizeA reports 0
  FAKE_NO_FILE_VERSION,  // the block has no FileVersion under "0c0904b0"
};
void FakeSetVersion(const std::string& file_version, FakeVersionFault fault = FAKE_VERSION_OK);
// Every sub-block path that VerQueryValueA was asked for, and the paths the version library
// was given.
const std::vector<std::string>& FakeVersionQueries();
const std::vector<std::string>& FakeVersionFilePaths();

const std::vector<FakeCall>& FakeCalls();
std::vector<FakeCall> FakeCallsOf(FakeCallKind kind);
std::vector<DWORD> FakeTerminatedIds();
int FakeOpenHandleCount();
int FakeMostHandlesOpenAtOnce();

#endif
