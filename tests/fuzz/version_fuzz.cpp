// Fuzzes the version-block reader and the ELF section finder over arbitrary bytes, both
// directly and through the version services on a file holding the bytes: never a read out of
// bounds (the sanitizers watch), every answer inside the data, every text zero-terminated.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/version_block.h"
#include "platform/linux/version_section.h"
#include "platform/linux/win32_api.h"

namespace {

const char* const QUERIES[] = {"\\",
                               "\\StringFileInfo\\0c0904b0\\FileVersion",
                               "\\VarFileInfo\\Translation",
                               "\\StringFileInfo",
                               "",
                               "\\\\StringFileInfo\\\\0C0904B0\\\\fileversion\\"};

bool ReadFromBytes(void* source, std::uint64_t offset, void* buffer, size_t length) {
  const std::vector<std::uint8_t>& bytes = *static_cast<const std::vector<std::uint8_t>*>(source);
  if (offset > bytes.size() || length > bytes.size() - offset) return false;
  std::memcpy(buffer, bytes.data() + offset, length);
  return true;
}

void CheckBlock(const std::uint8_t* block, size_t size) {
  for (const char* query : QUERIES) {
    size_t offset = 0, bytes = 0;
    bool is_text = false;
    if (!FindVersionValue(block, size, query, &offset, &bytes, &is_text)) continue;
    if (offset > size || bytes > size - offset) std::abort();
    std::vector<char> text(bytes / 2 * 3 + 1);
    size_t written = ConvertUtf16ToUtf8(block + offset, bytes, text.data(), text.size());
    if (written >= text.size() || std::strlen(text.data()) != written) std::abort();
  }
}

int g_file = -1;
std::string g_path;

void CheckThroughFile(const std::uint8_t* data, size_t size) {
  ftruncate(g_file, 0);  // pwrite below writes at offset 0 whatever the file offset
  if (pwrite(g_file, data, size, 0) != static_cast<ssize_t>(size)) return;
  DWORD handle = 0;
  DWORD needed = GetFileVersionInfoSizeA(g_path.c_str(), &handle);
  if (needed == 0) return;
  std::vector<char> buffer(needed);  // exactly the size asked for, as the program allocates
  if (!GetFileVersionInfoA(g_path.c_str(), handle, needed, buffer.data())) return;
  for (const char* query : QUERIES) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), query, &value, &length)) continue;
    const char* p = static_cast<const char*>(value);
    if (p < buffer.data() || p + length > buffer.data() + buffer.size()) std::abort();
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(buffer.data(), QUERIES[1], &value, &length)) {
    const char* text = static_cast<const char*>(value);
    size_t room = static_cast<size_t>(buffer.data() + buffer.size() - text);
    if (std::memchr(text, 0, room) == nullptr) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_file = memfd_create("volmo-fuzz-file", 0);
  g_path = "/proc/self/fd/" + std::to_string(g_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  CheckBlock(data, size);
  std::vector<std::uint8_t> file(data, data + size);
  std::uint64_t offset = 0, length = 0;
  if (FindElfSection(ReadFromBytes, &file, file.size(), VOLMO_VERSION_SECTION, &offset, &length)) {
    if (offset > size || length > size - offset) std::abort();
    CheckBlock(data + offset, static_cast<size_t>(length));
  }
  CheckThroughFile(data, size);
  return 0;
}
