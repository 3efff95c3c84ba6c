#include "process/process_list.h"

#include <cstdio>
#include <cstring>

// Query information and memory read: enough to read a process's module list and names.
static const DWORD NAME_READ_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// Beyond this the doubling stops: no system numbers this many processes, and a broken
// enumeration that always reports a full buffer must not grow the snapshot without end.
static const DWORD SNAPSHOT_CAPACITY_LIMIT = MAX_PROCESS_IDS << 15;

static const char UNKNOWN_NAME[] = "[unknown]";

DWORD EnumProcessIds(DWORD* process_ids, DWORD size_bytes) {
  DWORD bytes_returned = 0;
  if (!EnumProcesses(process_ids, size_bytes, &bytes_returned)) return 0;
  if (bytes_returned > size_bytes) bytes_returned = size_bytes;
  return bytes_returned / DWORD{sizeof(DWORD)};
}

std::vector<DWORD> TakeProcessSnapshot() {
  std::vector<DWORD> process_ids;
  DWORD capacity = MAX_PROCESS_IDS;
  for (;;) {
    process_ids.resize(capacity);
    DWORD count = EnumProcessIds(process_ids.data(), capacity * DWORD{sizeof(DWORD)});
    if (count < capacity || capacity >= SNAPSHOT_CAPACITY_LIMIT) {
      process_ids.resize(count);
      return process_ids;
    }
    capacity *= 2;
  }
}

void GetProcessName(HANDLE process, char* name, DWORD size) {
  std::memcpy(name, UNKNOWN_NAME, sizeof(UNKNOWN_NAME));
  HMODULE first_module = nullptr;
  DWORD bytes_needed = 0;
  if (!EnumProcessModules(process, &first_module, sizeof(first_module), &bytes_needed)) return;
  DWORD length = GetModuleBaseNameA(process, first_module, name, size);
  if (length == 0) {
    std::memcpy(name, UNKNOWN_NAME, sizeof(UNKNOWN_NAME));
    return;
  }
  // Some implementations leave a cut name without its terminating zero.
  name[length < size ? length : size - 1] = '\0';
}

int ListProcesses() {
  std::vector<DWORD> process_ids = TakeProcessSnapshot();
  char name[MAX_PATH];
  for (DWORD process_id : process_ids) {
    HANDLE process = OpenProcess(NAME_READ_ACCESS, FALSE, process_id);
    if (process == nullptr) continue;
    GetProcessName(process, name, MAX_PATH);
    std::printf("%i\t%s\n", static_cast<int>(process_id), name);
    CloseHandle(process);
  }
  return 0;
}
