// Process snapshots, process names and the "-l" listing.
#ifndef VOLMO_PROCESS_PROCESS_LIST_H
#define VOLMO_PROCESS_PROCESS_LIST_H

#include <vector>

#include "process/process_services.h"

// The first capacity of a snapshot, in ids; a snapshot grows past it as far as the system needs.
const DWORD MAX_PROCESS_IDS = 200;

// Fills process_ids (size_bytes long) with the ids of the running processes and returns how
// many it wrote, whole ids only. A failed enumeration writes none.
DWORD EnumProcessIds(DWORD* process_ids, DWORD size_bytes);

// The ids of every running process, in the order the system reports them. Starts with room for
// MAX_PROCESS_IDS ids and doubles it while the system fills the whole buffer, so that no process
// is dropped on a busy machine.
std::vector<DWORD> TakeProcessSnapshot();

// Writes the base name of the process's executable into name (size bytes, at least 10), or
// "[unknown]" when it cannot be read. The text is always zero-terminated.
void GetProcessName(HANDLE process, char* name, DWORD size);

// Writes "id<TAB>name" for every process in a fresh snapshot that opens for query and memory
// read. Always returns 0.
int ListProcesses();

#endif
