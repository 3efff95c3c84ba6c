// Our own declarations of the Win32 operations that Volmo calls, for platforms that are not
// Windows. The names, types and meanings follow the Windows interface, so the program's code
// compiles unchanged on both; the Linux implementation lives beside this header.
#ifndef VOLMO_PLATFORM_LINUX_WIN32_API_H
#define VOLMO_PLATFORM_LINUX_WIN32_API_H

#include <cstdint>

typedef std::uint32_t DWORD;
typedef int BOOL;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef struct VolmoModuleToken* HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260

#define PROCESS_TERMINATE 0x0001
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400

// Process services (kernel32 and psapi on Windows).
BOOL EnumProcesses(DWORD* process_ids, DWORD size_bytes, DWORD* bytes_returned);
HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id);
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size_bytes, DWORD* bytes_needed);
DWORD GetModuleBaseNameA(HANDLE process, HMODULE module, char* base_name, DWORD size);
BOOL TerminateProcess(HANDLE process, UINT exit_code);
BOOL CloseHandle(HANDLE object);
DWORD GetCurrentProcessId();

// Module and version-information services (kernel32 and version on Windows).
HMODULE GetModuleHandleA(const char* module_name);
DWORD GetModuleFileNameA(HMODULE module, char* file_name, DWORD size);
DWORD GetFileVersionInfoSizeA(const char* file_name, DWORD* handle);
BOOL GetFileVersionInfoA(const char* file_name, DWORD handle, DWORD size, void* data);
BOOL VerQueryValueA(const void* block, const char* sub_block, void** buffer, UINT* length);

#endif
