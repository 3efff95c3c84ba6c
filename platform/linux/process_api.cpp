// The Win32 process services on Linux, over /proc and pidfd.
//
// Rights map to the kernel's own checks: query information and memory read are granted when
// the caller may read /proc/PID/exe (the ptrace read check), terminate when it may signal the
// process. A handle with terminate rights holds a pidfd, so the signal reaches the very process
// that was opened even if its id has been reused since. A query-only handle needs no
// descriptor: the executable link is read once, at the open, and kept for the module reads.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/linux/win32_api.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace {

// The kernel's task flag for kernel threads, the ninth field of /proc/PID/stat.
const unsigned long KERNEL_THREAD_FLAG = 0x00200000;

// Handles live in a small fixed table, so that opening a process allocates nothing.
const int HANDLE_SLOTS = 32;

struct ProcessHandle {
  bool in_use;
  DWORD access;
  int pidfd;                  // -1 unless the handle carries terminate rights
  int executable_length;      // -1 when the executable link could not be read
  char executable[PATH_MAX];  // target of /proc/PID/exe, not zero-terminated
};

ProcessHandle g_handles[HANDLE_SLOTS];

// The one token that EnumProcessModules hands out: the process's executable.
HMODULE const EXECUTABLE_MODULE = reinterpret_cast<HMODULE>(&g_handles);

ProcessHandle* HandleFromUser(HANDLE handle) {
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(handle);
  std::uintptr_t first = reinterpret_cast<std::uintptr_t>(&g_handles[0]);
  if (address < first) return nullptr;
  std::uintptr_t offset = address - first;
  if (offset % sizeof(ProcessHandle) != 0 || offset / sizeof(ProcessHandle) >= HANDLE_SLOTS) {
    return nullptr;
  }
  ProcessHandle* slot = &g_handles[offset / sizeof(ProcessHandle)];
  return slot->in_use ? slot : nullptr;
}

ProcessHandle* TakeFreeSlot() {
  for (ProcessHandle& slot : g_handles) {
    if (!slot.in_use) return &slot;
  }
  return nullptr;
}

int OpenPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0u)); }

bool SendPidfdSignal(int pidfd, int signal_number) {
  return syscall(SYS_pidfd_send_signal, pidfd, signal_number, nullptr, 0u) == 0;
}

enum ExelessKind { EXELESS_GONE, EXELESS_KERNEL_THREAD, EXELESS_USER_PROCESS };

// What a process without a readable executable is, from /proc/PID/stat: gone, a kernel thread
// (no user memory at all), or a user process whose memory is already released (a zombie, or
// one in the middle of exiting). Read only on these rare paths.
ExelessKind ClassifyExeless(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return EXELESS_GONE;
  char stat[1024];
  ssize_t length = read(fd, stat, sizeof(stat) - 1);
  close(fd);
  if (length <= 0) return EXELESS_GONE;
  stat[length] = '\0';
  // The command name may hold any byte, ")" included: the fields start after the last ")".
  const char* fields = std::strrchr(stat, ')');
  if (fields == nullptr) return EXELESS_GONE;
  unsigned long flags = 0;
  if (std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) != 1) {
    return EXELESS_GONE;
  }
  return (flags & KERNEL_THREAD_FLAG) ? EXELESS_KERNEL_THREAD : EXELESS_USER_PROCESS;
}

// Reads the executable link into the slot. False when the caller may not read it, or when the
// process has no user memory to read (kernel threads, or no process at all). A user process
// whose memory is already gone (a zombie) opens, with no executable to name.
bool ReadExecutableLink(pid_t pid, ProcessHandle* slot) {
  char path[32];
  std::snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(pid));
  ssize_t length = readlink(path, slot->executable, sizeof(slot->executable));
  if (length >= 0 && length < static_cast<ssize_t>(sizeof(slot->executable))) {
    slot->executable_length = static_cast<int>(length);
    return true;
  }
  slot->executable_length = -1;
  if (length >= 0) return true;  // a link too long to hold: the process opens, unnamed
  // ENOENT comes after the permission check passed: the process has no executable (or is gone).
  return errno == ENOENT && ClassifyExeless(pid) == EXELESS_USER_PROCESS;
}

}  // namespace

BOOL EnumProcesses(DWORD* process_ids, DWORD size_bytes, DWORD* bytes_returned) {
  *bytes_returned = 0;
  int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return FALSE;
  const DWORD capacity = size_bytes / sizeof(DWORD);
  DWORD count = 0;
  alignas(8) char entries[32768];
  BOOL ok = TRUE;
  while (count < capacity) {
    ssize_t length = getdents64(proc, entries, sizeof(entries));
    if (length <= 0) {
      ok = (length == 0);
      break;
    }
    for (ssize_t offset = 0; offset < length && count < capacity;) {
      const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(entries + offset);
      offset += entry->d_reclen;
      // Only the numeric entries are processes; threads have no entry of their own here.
      const char* name = entry->d_name;
      DWORD pid = 0;
      bool numeric = (*name != '\0');
      for (; *name != '\0' && numeric; ++name) {
        numeric = (*name >= '0' && *name <= '9');
        pid = pid * 10 + static_cast<DWORD>(*name - '0');
      }
      if (numeric) process_ids[count++] = pid;
    }
  }
  close(proc);
  if (!ok) return FALSE;
  *bytes_returned = count * sizeof(DWORD);
  return TRUE;
}

HANDLE OpenProcess(DWORD desired_access, BOOL /*inherit_handle*/, DWORD process_id) {
  // Handles are never inherited: a pidfd is always close-on-exec.
  if (process_id == 0 || process_id > static_cast<DWORD>(INT_MAX)) return nullptr;
  const pid_t pid = static_cast<pid_t>(process_id);
  ProcessHandle* slot = TakeFreeSlot();
  if (slot == nullptr) return nullptr;
  const bool wants_terminate = (desired_access & PROCESS_TERMINATE) != 0;
  const bool wants_read = (desired_access & (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) != 0;

  slot->pidfd = -1;
  slot->executable_length = -1;
  if (wants_terminate) {
    // The pidfd pins the process first, so every later check is about this very process.
    slot->pidfd = OpenPidfd(pid);
    if (slot->pidfd < 0) return nullptr;
  }
  bool granted = true;
  if (wants_read) granted = ReadExecutableLink(pid, slot);
  if (granted && wants_terminate) {
    // Kernel threads ignore every signal: the terminate right is not granted for them. A
    // process with a readable executable is never one.
    if (slot->executable_length < 0) granted = (ClassifyExeless(pid) == EXELESS_USER_PROCESS);
    // Signal 0 checks the right to signal, and that the process is still the one pinned.
    if (granted) granted = SendPidfdSignal(slot->pidfd, 0);
  }
  if (!granted) {
    if (slot->pidfd >= 0) close(slot->pidfd);
    return nullptr;
  }
  slot->access = desired_access;
  slot->in_use = true;
  return slot;
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size_bytes, DWORD* bytes_needed) {
  ProcessHandle* slot = HandleFromUser(process);
  const DWORD read_rights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if (slot == nullptr || (slot->access & read_rights) != read_rights) return FALSE;
  if (slot->executable_length < 0) return FALSE;
  if (bytes_needed != nullptr) *bytes_needed = sizeof(HMODULE);
  if (modules != nullptr && size_bytes >= sizeof(HMODULE)) modules[0] = EXECUTABLE_MODULE;
  return TRUE;
}

DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, char* base_name, DWORD size) {
  ProcessHandle* slot = HandleFromUser(process);
  const DWORD read_rights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if (slot == nullptr || (slot->access & read_rights) != read_rights) return 0;
  if (module != nullptr && module != EXECUTABLE_MODULE) return 0;
  if (slot->executable_length < 0 || base_name == nullptr || size == 0) return 0;

  const char* path = slot->executable;
  size_t length = static_cast<size_t>(slot->executable_length);
  // The kernel marks an executable replaced or removed on disk; the process keeps its name.
  static const char DELETED_SUFFIX[] = " (deleted)";
  const size_t suffix_length = sizeof(DELETED_SUFFIX) - 1;
  if (length > suffix_length &&
      std::memcmp(path + length - suffix_length, DELETED_SUFFIX, suffix_length) == 0) {
    length -= suffix_length;
  }
  size_t start = length;
  while (start > 0 && path[start - 1] != '/') --start;
  size_t name_length = length - start;
  if (name_length > size - 1) name_length = size - 1;
  std::memcpy(base_name, path + start, name_length);
  base_name[name_length] = '\0';
  return static_cast<DWORD>(name_length);
}

BOOL TerminateProcess(HANDLE process, UINT /*exit_code*/) {
  // Linux lets no killer choose the exit status of the process it kills: the code is not
  // passed on; the process ends by SIGKILL.
  ProcessHandle* slot = HandleFromUser(process);
  if (slot == nullptr || slot->pidfd < 0) return FALSE;
  return SendPidfdSignal(slot->pidfd, SIGKILL) ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE object) {
  ProcessHandle* slot = HandleFromUser(object);
  if (slot == nullptr) return FALSE;
  if (slot->pidfd >= 0) close(slot->pidfd);
  slot->pidfd = -1;
  slot->in_use = false;
  return TRUE;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
