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
#include <ctime>
#include <vector>

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

enum ProcessKind { PROCESS_GONE, PROCESS_KERNEL_THREAD, PROCESS_USER };

// What a process is, from /proc/PID/stat: gone, a kernel thread (no user memory at all), or a
// user process (possibly a zombie, or one in the middle of exiting). Read only on rare paths:
// a terminate-only open, or a process without a readable executable.
ProcessKind ClassifyProcess(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof(path), "/proc/%d/stat", static_cast<int>(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return PROCESS_GONE;
  char stat[1024];
  ssize_t length = read(fd, stat, sizeof(stat) - 1);
  close(fd);
  if (length <= 0) return PROCESS_GONE;
  stat[length] = '\0';
  // The command name may hold any byte, ")" included: the fields start after the last ")".
  const char* fields = std::strrchr(stat, ')');
  if (fields == nullptr) return PROCESS_GONE;
  unsigned long flags = 0;
  if (std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) != 1) {
    return PROCESS_GONE;
  }
  return (flags & KERNEL_THREAD_FLAG) ? PROCESS_KERNEL_THREAD : PROCESS_USER;
}

enum ExecutableLinkResult { LINK_READ, LINK_DENIED, LINK_NONE_USER_PROCESS, LINK_NONE_OTHER };

// Reads the executable link into the slot (executable_length stays -1 when there is none).
ExecutableLinkResult ReadExecutableLink(pid_t pid, ProcessHandle* slot) {
  char path[32];
  std::snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(pid));
  ssize_t length = readlink(path, slot->executable, sizeof(slot->executable));
  if (length >= 0 && length < static_cast<ssize_t>(sizeof(slot->executable))) {
    slot->executable_length = static_cast<int>(length);
    return LINK_READ;
  }
  slot->executable_length = -1;
  if (length >= 0) return LINK_NONE_USER_PROCESS;  // a link too long to hold: opens, unnamed
  // ENOENT comes after the permission check passed: the process has no executable, or there
  // is no process. Kernel threads, the common case, still have a working directory, and a
  // zombie has none left: a readlink or two tells them apart, one system call each.
  if (errno != ENOENT) return LINK_DENIED;
  std::snprintf(path, sizeof(path), "/proc/%d/cwd", static_cast<int>(pid));
  char directory[2];
  if (readlink(path, directory, sizeof(directory)) >= 0) return LINK_NONE_OTHER;
  // Neither executable nor working directory: a zombie if its /proc entry is still there.
  std::snprintf(path, sizeof(path), "/proc/%d", static_cast<int>(pid));
  return access(path, F_OK) == 0 ? LINK_NONE_USER_PROCESS : LINK_NONE_OTHER;
}

// The ids of the numeric entries of /proc, in directory order. Threads have no entry there.
bool ReadProcessIds(std::vector<DWORD>* ids) {
  ids->clear();
  int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return false;
  alignas(8) char entries[32768];
  bool ok = true;
  for (;;) {
    ssize_t length = getdents64(proc, entries, sizeof(entries));
    if (length <= 0) {
      ok = (length == 0);
      break;
    }
    for (ssize_t offset = 0; offset < length;) {
      const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(entries + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      DWORD pid = 0;
      bool numeric = (*name != '\0');
      for (; *name != '\0' && numeric; ++name) {
        numeric = (*name >= '0' && *name <= '9');
        pid = pid * 10 + static_cast<DWORD>(*name - '0');
      }
      if (numeric) ids->push_back(pid);
    }
  }
  close(proc);
  return ok;
}

std::int64_t MonotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The last pass over /proc whose ids did not all fit the caller's buffer.
std::vector<DWORD> g_kept_pass;
bool g_kept_pass_valid = false;
std::int64_t g_kept_pass_time = 0;
const std::int64_t RETRY_WINDOW_NS = 100 * 1000 * 1000;

}  // namespace

BOOL EnumProcesses(DWORD* process_ids, DWORD size_bytes, DWORD* bytes_returned) {
  *bytes_returned = 0;
  // Each pass over /proc makes the kernel build an entry for every process, and a caller that
  // grows its buffer asks again at once: a pass whose ids did not all fit is kept, and a retry
  // within RETRY_WINDOW_NS is answered from it, so growing a snapshot costs one pass.
  const bool retry =
      g_kept_pass_valid && MonotonicNanoseconds() - g_kept_pass_time < RETRY_WINDOW_NS;
  if (!retry && !ReadProcessIds(&g_kept_pass)) {
    g_kept_pass_valid = false;
    return FALSE;
  }
  const size_t capacity = size_bytes / sizeof(DWORD);
  const size_t count = g_kept_pass.size() < capacity ? g_kept_pass.size() : capacity;
  std::memcpy(process_ids, g_kept_pass.data(), count * sizeof(DWORD));
  *bytes_returned = static_cast<DWORD>(count * sizeof(DWORD));
  g_kept_pass_valid = (count < g_kept_pass.size());
  if (g_kept_pass_valid && !retry) g_kept_pass_time = MonotonicNanoseconds();
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
  // Whether the process is a user process, which is what terminate rights need: kernel threads
  // ignore every signal. Known from the link read when there was one.
  bool user_process = false;
  if (wants_read) {
    // Without user memory (a kernel thread, or no process) there is nothing to read.
    ExecutableLinkResult link = ReadExecutableLink(pid, slot);
    granted = (link == LINK_READ || link == LINK_NONE_USER_PROCESS);
    user_process = granted;
  }
  if (granted && wants_terminate) {
    if (!user_process) granted = (ClassifyProcess(pid) == PROCESS_USER);
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
