#include "tests/fake/fake_process_table.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

struct FakeHandle {
  size_t process_index;
  DWORD access;
  bool open;
};

struct FakeTable {
  std::vector<FakeProcess> processes;
  std::vector<int> opens_seen;  // per process, how many opens succeeded so far
  std::deque<FakeHandle> handles;
  std::vector<FakeCall> calls;
  DWORD own_id = 0;
  bool enumeration_fails = false;
  DWORD extra_bytes = 0;
  int open_now = 0;
  int most_open = 0;
  std::string module_path = "C:\\volmo\\volmo.exe";
  std::string file_version = "1, 0, 0, 2";
  FakeVersionFault version_fault = FAKE_VERSION_OK;
  std::vector<std::string> version_queries;
  std::vector<std::string> version_paths;
};

FakeTable g_table;

HMODULE const FAKE_EXECUTABLE_MODULE = reinterpret_cast<HMODULE>(&g_table);

FakeHandle* FindHandle(HANDLE handle) {
  for (FakeHandle& h : g_table.handles) {
    if (&h == handle && h.open) return &h;
  }
  return nullptr;
}

void Record(FakeCallKind kind, DWORD id, DWORD access, UINT exit_code, bool succeeded) {
  g_table.calls.push_back(FakeCall{kind, id, access, exit_code, succeeded});
}

bool HasReadRights(const FakeHandle& h) {
  const DWORD read_rights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  return (h.access & read_rights) == read_rights;
}

}  // namespace

FakeProcess FakeNamedProcess(DWORD id, const std::string& name) {
  FakeProcess p;
  p.id = id;
  p.name = name;
  return p;
}

void FakeReset() { g_table = FakeTable(); }

void FakeAddProcess(const FakeProcess& process) {
  g_table.processes.push_back(process);
  g_table.opens_seen.push_back(0);
}

void FakeAddProcesses(DWORD first_id, int count, const std::string& name_prefix) {
  for (int i = 0; i < count; ++i) {
    FakeAddProcess(FakeNamedProcess(first_id + static_cast<DWORD>(i),
                                    name_prefix + std::to_string(i) + ".exe"));
  }
}

void FakeSetOwnProcessId(DWORD id) { g_table.own_id = id; }
void FakeSetEnumerationFails(bool fails) { g_table.enumeration_fails = fails; }
void FakeSetExtraBytesReported(DWORD extra) { g_table.extra_bytes = extra; }

void FakeSetVersion(const std::string& file_version, FakeVersionFault fault) {
  g_table.file_version = file_version;
  g_table.version_fault = fault;
}

const std::vector<std::string>& FakeVersionQueries() { return g_table.version_queries; }
const std::vector<std::string>& FakeVersionFilePaths() { return g_table.version_paths; }

const std::vector<FakeCall>& FakeCalls() { return g_table.calls; }

std::vector<FakeCall> FakeCallsOf(FakeCallKind kind) {
  std::vector<FakeCall> selected;
  for (const FakeCall& call : g_table.calls) {
    if (call.kind == kind) selected.push_back(call);
  }
  return selected;
}

std::vector<DWORD> FakeTerminatedIds() {
  std::vector<DWORD> ids;
  for (const FakeCall& call : g_table.calls) {
    if (call.kind == FAKE_TERMINATE && call.succeeded) ids.push_back(call.id);
  }
  return ids;
}

int FakeOpenHandleCount() { return g_table.open_now; }
int FakeMostHandlesOpenAtOnce() { return g_table.most_open; }

BOOL EnumProcesses(DWORD* process_ids, DWORD size_bytes, DWORD* bytes_returned) {
  Record(FAKE_ENUM, size_bytes, 0, 0, !g_table.enumeration_fails);
  if (g_table.enumeration_fails) {
    // A failing system may leave anything behind; the program must not use it.
    *bytes_returned = size_bytes;
    return FALSE;
  }
  size_t fit = std::min<size_t>(size_bytes / sizeof(DWORD), g_table.processes.size());
  for (size_t i = 0; i < fit; ++i) process_ids[i] = g_table.processes[i].id;
  *bytes_returned = static_cast<DWORD>(fit * sizeof(DWORD));
  if (*bytes_returned + g_table.extra_bytes <= size_bytes) *bytes_returned += g_table.extra_bytes;
  return TRUE;
}

HANDLE OpenProcess(DWORD desired_access, BOOL /*inherit_handle*/, DWORD process_id) {
  for (size_t i = 0; i < g_table.processes.size(); ++i) {
    FakeProcess& p = g_table.processes[i];
    if (p.id != process_id) continue;
    if (g_table.opens_seen[i] > 0 && !p.name_after_first_open.empty()) {
      p.name = p.name_after_first_open;
    }
    bool granted = true;
    if ((desired_access & (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) && !p.grants_read) {
      granted = false;
    }
    if ((desired_access & PROCESS_TERMINATE) && !p.grants_terminate) granted = false;
    Record(FAKE_OPEN, process_id, desired_access, 0, granted);
    if (!granted) return nullptr;
    ++g_table.opens_seen[i];
    g_table.handles.push_back(FakeHandle{i, desired_access, true});
    g_table.most_open = std::max(g_table.most_open, ++g_table.open_now);
    return &g_table.handles.back();
  }
  Record(FAKE_OPEN, process_id, desired_access, 0, false);
  return nullptr;
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size_bytes, DWORD* bytes_needed) {
  FakeHandle* h = FindHandle(process);
  if (h == nullptr || !HasReadRights(*h)) return FALSE;
  if (!g_table.processes[h->process_index].modules_readable) return FALSE;
  // The program asks for room for one module: report more, as a real process has.
  if (bytes_needed != nullptr) *bytes_needed = 5 * sizeof(HMODULE);
  if (size_bytes >= sizeof(HMODULE)) modules[0] = FAKE_EXECUTABLE_MODULE;
  return TRUE;
}

DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, char* base_name, DWORD size) {
  FakeHandle* h = FindHandle(process);
  if (h == nullptr || !HasReadRights(*h) || module != FAKE_EXECUTABLE_MODULE) return 0;
  const FakeProcess& p = g_table.processes[h->process_index];
  if (p.base_name_fails) {
    // A failing read may still have scribbled on the buffer.
    std::memset(base_name, 'X', size);
    return 0;
  }
  if (p.base_name_unterminated) {
    size_t length = std::min<size_t>(p.name.size(), size);
    std::memcpy(base_name, p.name.data(), length);
    return static_cast<DWORD>(length);
  }
  size_t length = std::min<size_t>(p.name.size(), size - 1);
  std::memcpy(base_name, p.name.data(), length);
  base_name[length] = '\0';
  return static_cast<DWORD>(length);
}

BOOL TerminateProcess(HANDLE process, UINT exit_code) {
  FakeHandle* h = FindHandle(process);
  DWORD id = h ? g_table.processes[h->process_index].id : 0;
  bool allowed = h != nullptr && (h->access & PROCESS_TERMINATE) &&
                 !g_table.processes[h->process_index].terminate_refused;
  Record(FAKE_TERMINATE, id, 0, exit_code, allowed);
  return allowed ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE object) {
  FakeHandle* h = FindHandle(object);
  if (h == nullptr) {
    Record(FAKE_CLOSE, 0, 0, 0, false);
    return FALSE;
  }
  h->open = false;
  --g_table.open_now;
  Record(FAKE_CLOSE, g_table.processes[h->process_index].id, 0, 0, true);
  return TRUE;
}

DWORD GetCurrentProcessId() { return g_table.own_id; }

// The fake's version block: a marker, then the FileVersion text with its zero. Its size is
// what GetFileVersionInfoSizeA reports, and VerQueryValueA points inside it.
static const char FAKE_BLOCK_MARKER[] = "FAKE-VERSION-BLOCK";

HMODULE GetModuleHandleA(const char* module_name) {
  return module_name == nullptr ? FAKE_EXECUTABLE_MODULE : nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, char* file_name, DWORD size) {
  if (module != FAKE_EXECUTABLE_MODULE || g_table.version_fault == FAKE_PATH_FAILS) return 0;
  if (g_table.version_fault == FAKE_PATH_TRUNCATED) {
    std::memset(file_name, 'C', size - 1);
    file_name[size - 1] = '\0';
    return size;
  }
  size_t length = std::min<size_t>(g_table.module_path.size(), size - 1);
  std::memcpy(file_name, g_table.module_path.data(), length);
  file_name[length] = '\0';
  return static_cast<DWORD>(length);
}

DWORD GetFileVersionInfoSizeA(const char* file_name, DWORD* handle) {
  g_table.version_paths.push_back(file_name);
  *handle = 0;
  if (g_table.version_fault == FAKE_NO_VERSION_INFO) return 0;
  return static_cast<DWORD>(sizeof(FAKE_BLOCK_MARKER) + g_table.file_version.size() + 1);
}

BOOL GetFileVersionInfoA(const char* file_name, DWORD /*handle*/, DWORD size, void* data) {
  g_table.version_paths.push_back(file_name);
  const size_t needed = sizeof(FAKE_BLOCK_MARKER) + g_table.file_version.size() + 1;
  if (size < needed) return FALSE;
  char* block = static_cast<char*>(data);
  std::memcpy(block, FAKE_BLOCK_MARKER, sizeof(FAKE_BLOCK_MARKER));
  std::memcpy(block + sizeof(FAKE_BLOCK_MARKER), g_table.file_version.c_str(),
              g_table.file_version.size() + 1);
  return TRUE;
}

BOOL VerQueryValueA(const void* block, const char* sub_block, void** buffer, UINT* length) {
  g_table.version_queries.push_back(sub_block);
  const char* bytes = static_cast<const char*>(block);
  if (std::memcmp(bytes, FAKE_BLOCK_MARKER, sizeof(FAKE_BLOCK_MARKER)) != 0) return FALSE;
  if (g_table.version_fault == FAKE_NO_FILE_VERSION ||
      std::string(sub_block) != "\\StringFileInfo\\0c0904b0\\FileVersion") {
    return FALSE;
  }
  *buffer = const_cast<char*>(bytes + sizeof(FAKE_BLOCK_MARKER));
  *length = static_cast<UINT>(g_table.file_version.size() + 1);
  return TRUE;
}
