#include "cli/version_banner.h"

#include <cstdlib>
#include <iostream>

const char ATTRIBUTION_LINE[] =
    " Written by the Volmo authors (volmo@example.org) - https://example.org/volmo";

static const char VERSION_LOOKUP_PATH[] = "\\StringFileInfo\\0c0904b0\\FileVersion";
static const char UNKNOWN_VERSION[] = "Unknown";
static const DWORD TEXT_BUFFER_SIZE = 1024;

// Copies a zero-terminated text into a buffer of size bytes, cut to fit and always terminated.
static void CopyTextBounded(char* to, const char* from, DWORD size) {
  DWORD i = 0;
  for (; i + 1 < size && from[i] != '\0'; ++i) to[i] = from[i];
  to[i] = '\0';
}

// Reads the FileVersion text of the file at path into version; false when there is none.
static bool ReadFileVersionText(const char* path, char* version, DWORD size) {
  DWORD handle = 0;
  DWORD block_size = GetFileVersionInfoSizeA(path, &handle);
  if (block_size == 0) return false;
  void* block = std::malloc(block_size);
  if (block == nullptr) return false;
  bool found = false;
  void* value = nullptr;
  UINT value_length = 0;
  if (GetFileVersionInfoA(path, handle, block_size, block) &&
      VerQueryValueA(block, VERSION_LOOKUP_PATH, &value, &value_length) && value != nullptr) {
    // The value lies inside the block: copy it out before the block is freed.
    CopyTextBounded(version, static_cast<const char*>(value), size);
    found = true;
  }
  std::free(block);
  return found;
}

void ShowVersion(HMODULE module, const char* name) {
  char module_path[TEXT_BUFFER_SIZE];
  char version[TEXT_BUFFER_SIZE];
  DWORD path_length = GetModuleFileNameA(module, module_path, TEXT_BUFFER_SIZE);
  // A path that did not fit is cut, and names some other file, or none.
  bool have_path = path_length > 0 && path_length < TEXT_BUFFER_SIZE;
  if (!have_path || !ReadFileVersionText(module_path, version, TEXT_BUFFER_SIZE)) {
    CopyTextBounded(version, UNKNOWN_VERSION, TEXT_BUFFER_SIZE);
  }
  std::cout << name << " Version " << version;
  std::cout.put('\n');
  std::cout.flush();
  std::cout << ATTRIBUTION_LINE;
  std::cout.put('\n');
  std::cout.flush();
}
