// The Win32 module and version-information services on Linux. The executable carries its
// version block in an ELF section of its own; these functions find it by reading the file's
// headers, never trusting them, and answer queries on it as the Windows version library does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux/version_block.h"
#include "platform/linux/version_section.h"
#include "platform/linux/win32_api.h"

namespace {

// The one module there is: the running executable.
char g_main_module;
HMODULE const MAIN_MODULE = reinterpret_cast<HMODULE>(&g_main_module);

// A block longer than its 16-bit length field can say is cut to what the field can say.
const std::size_t MAX_BLOCK_BYTES = 0xFFFF;

// Room after the block for the 8-bit copies that VerQueryValueA makes. A value at byte offset
// o of the block, n UTF-16 units long, is copied to o * 3 / 2 past the copy area's start: at
// most 3 bytes a unit, so the copies of different values never overlap.
std::size_t CopyAreaStart(std::size_t block_bytes) { return (block_bytes + 3) & ~std::size_t{3}; }
std::size_t BufferSizeFor(std::size_t block_bytes) {
  return CopyAreaStart(block_bytes) + block_bytes * 3 / 2 + 8;
}

bool ReadFromFile(void* source, std::uint64_t offset, void* buffer, std::size_t length) {
  const int fd = *static_cast<int*>(source);
  unsigned char* out = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    ssize_t n = pread(fd, out, length, static_cast<off_t>(offset));
    if (n <= 0) return false;
    out += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// The size of the version block in the file at path, 0 when it has none; with the file open,
// reads the block into block (block_size bytes) when that is given.
std::size_t ReadVersionSection(const char* path, unsigned char* block, std::size_t block_size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t found = 0;
  struct stat file;
  std::uint64_t offset = 0, size = 0;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) &&
      FindElfSection(ReadFromFile, &fd, static_cast<std::uint64_t>(file.st_size),
                     VOLMO_VERSION_SECTION, &offset, &size) &&
      size >= 6) {
    found = size < MAX_BLOCK_BYTES ? static_cast<std::size_t>(size) : MAX_BLOCK_BYTES;
    if (block != nullptr) {
      if (found > block_size) found = block_size;
      if (!ReadFromFile(&fd, offset, block, found)) found = 0;
    }
  }
  close(fd);
  return found;
}

}  // namespace

HMODULE GetModuleHandleA(const char* module_name) {
  return module_name == nullptr ? MAIN_MODULE : nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, char* file_name, DWORD size) {
  if (size == 0 || file_name == nullptr) return 0;
  file_name[0] = '\0';
  if (module != nullptr && module != MAIN_MODULE) return 0;
  ssize_t length = readlink("/proc/self/exe", file_name, size);
  if (length < 0) {
    file_name[0] = '\0';
    return 0;
  }
  // As on Windows: a path that does not fit is cut, zero-terminated, and reported as size.
  if (static_cast<DWORD>(length) >= size) {
    file_name[size - 1] = '\0';
    return size;
  }
  file_name[length] = '\0';
  return static_cast<DWORD>(length);
}

DWORD GetFileVersionInfoSizeA(const char* file_name, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  if (file_name == nullptr) return 0;
  std::size_t block_bytes = ReadVersionSection(file_name, nullptr, 0);
  return block_bytes == 0 ? 0 : static_cast<DWORD>(BufferSizeFor(block_bytes));
}

BOOL GetFileVersionInfoA(const char* file_name, DWORD /*handle*/, DWORD size, void* data) {
  if (file_name == nullptr || data == nullptr || size == 0) return FALSE;
  unsigned char* block = static_cast<unsigned char*>(data);
  std::memset(block, 0, size);
  std::size_t read = ReadVersionSection(file_name, block, size);
  // The block's own length must fit what was read and leave room for the 8-bit copies; a
  // block that claims more is cut to what it may hold, so the queries stay inside the buffer.
  std::size_t claimed = read >= 2 ? static_cast<std::size_t>(block[0] | (block[1] << 8)) : 0;
  if (claimed > read) claimed = read;
  while (claimed > 0 && BufferSizeFor(claimed) > size) --claimed;
  if (size >= 2) {
    block[0] = static_cast<unsigned char>(claimed & 0xFF);
    block[1] = static_cast<unsigned char>(claimed >> 8);
  }
  return claimed >= 6 ? TRUE : FALSE;
}

BOOL VerQueryValueA(const void* block, const char* sub_block, void** buffer, UINT* length) {
  if (buffer != nullptr) *buffer = nullptr;
  if (length != nullptr) *length = 0;
  if (block == nullptr || sub_block == nullptr || buffer == nullptr) return FALSE;
  unsigned char* bytes = static_cast<unsigned char*>(const_cast<void*>(block));
  const std::size_t block_bytes = static_cast<std::size_t>(bytes[0] | (bytes[1] << 8));
  std::size_t value_offset = 0, value_bytes = 0;
  bool is_text = false;
  if (!FindVersionValue(bytes, block_bytes, sub_block, &value_offset, &value_bytes, &is_text)) {
    return FALSE;
  }
  if (!is_text) {
    *buffer = bytes + value_offset;
    if (length != nullptr) *length = static_cast<UINT>(value_bytes);
    return TRUE;
  }
  // 8-bit text, as the "A" functions give it: UTF-8, Linux's own code page.
  char* copy = reinterpret_cast<char*>(bytes + CopyAreaStart(block_bytes) + value_offset * 3 / 2);
  std::size_t written =
      ConvertUtf16ToUtf8(bytes + value_offset, value_bytes, copy, value_bytes / 2 * 3 + 1);
  *buffer = copy;
  if (length != nullptr) *length = static_cast<UINT>(written + 1);
  return TRUE;
}
