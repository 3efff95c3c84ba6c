#include "process/kill_command.h"

#include <cstdio>
#include <vector>

#include "process/process_list.h"
#include "process/text_compare.h"

static const DWORD SEARCH_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
static const DWORD KILL_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;
static const DWORD KILL_ACCESS_FALLBACK = PROCESS_TERMINATE;
static const UINT KILL_EXIT_CODE = 0xFFFFFFFF;

static bool IsParseSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int ParseProcessId(const char* target) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(target);
  while (IsParseSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  DWORD value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<DWORD>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

DWORD FindProcessByName(const char* name) {
  std::vector<DWORD> process_ids = TakeProcessSnapshot();
  // Volmo must never pick itself: it would end before its line is written.
  const DWORD own_id = GetCurrentProcessId();
  char candidate_name[MAX_PATH];
  DWORD found = 0;
  for (size_t i = 0; i < process_ids.size() && found == 0; ++i) {
    if (process_ids[i] == own_id) continue;
    HANDLE process = OpenProcess(SEARCH_ACCESS, FALSE, process_ids[i]);
    if (process == nullptr) continue;
    GetProcessName(process, candidate_name, MAX_PATH);
    if (EqualsIgnoringCase(name, candidate_name)) found = process_ids[i];
    CloseHandle(process);
  }
  return found;
}

static int ReportNotFound(const char* target) {
  std::printf("Process not found : %s\n", target);
  return -2;
}

int KillProcess(const char* target) {
  int process_id = ParseProcessId(target);
  const bool by_name = (process_id == 0);
  if (by_name) {
    process_id = static_cast<int>(FindProcessByName(target));
    if (process_id == 0) return ReportNotFound(target);
  }
  const DWORD id = static_cast<DWORD>(process_id);
  HANDLE process = OpenProcess(KILL_ACCESS, FALSE, id);
  if (process == nullptr) process = OpenProcess(KILL_ACCESS_FALLBACK, FALSE, id);
  if (process == nullptr) {
    std::printf("Error: Opening process: %d\n", process_id);
    return -1;
  }
  char name[MAX_PATH];
  GetProcessName(process, name, MAX_PATH);
  // The search released its handle before this open, so the process it found may have ended
  // and its id gone to another. Only a process that still bears the name is terminated.
  if (by_name && !EqualsIgnoringCase(target, name)) {
    CloseHandle(process);
    return ReportNotFound(target);
  }
  std::printf("Terminating Process - %d : %s\n", process_id, name);
  BOOL terminated = TerminateProcess(process, KILL_EXIT_CODE);
  CloseHandle(process);
  if (!terminated) {
    std::printf("Error: Terminating process: %d\n", process_id);
    return -3;
  }
  return 0;
}
