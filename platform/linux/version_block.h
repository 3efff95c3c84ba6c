// Reading version information on Linux: finding the version section in an ELF file, and
// walking a VS_VERSIONINFO block. Both work on untrusted bytes: every length and offset is
// checked against the data actually there.
#ifndef VOLMO_PLATFORM_LINUX_VERSION_BLOCK_H
#define VOLMO_PLATFORM_LINUX_VERSION_BLOCK_H

#include <cstddef>
#include <cstdint>

// Reads exactly length bytes at offset of a source; false when they are not all there.
typedef bool (*ReadAtFunction)(void* source, std::uint64_t offset, void* buffer,
                               std::size_t length);

// Finds the section called name in the ELF file of file_size bytes that read_at reads. On
// success gives the section's file offset and size, both within the file.
bool FindElfSection(ReadAtFunction read_at, void* source, std::uint64_t file_size, const char* name,
                    std::uint64_t* offset, std::uint64_t* size);

// Finds the value at sub_block ("\" for the fixed part, "\StringFileInfo\0c0904b0\FileVersion"
// for a string; components compared without regard to ASCII case) in a block of block_size
// bytes. Gives the value's offset and length in bytes within the block, and whether it is text.
bool FindVersionValue(const unsigned char* block, std::size_t block_size, const char* sub_block,
                      std::size_t* value_offset, std::size_t* value_bytes, bool* is_text);

// Converts UTF-16 text (little-endian, value_bytes long, ending at its first zero unit) to
// zero-terminated UTF-8 in out, which holds out_size bytes. Returns the bytes written before
// the zero.
std::size_t ConvertUtf16ToUtf8(const unsigned char* text, std::size_t value_bytes, char* out,
                               std::size_t out_size);

#endif
