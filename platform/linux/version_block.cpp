#include "platform/linux/version_block.h"

#include <elf.h>

#include <cstring>
#include <vector>

namespace {

std::uint16_t WordAt(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::size_t AlignUp4(std::size_t offset) { return (offset + 3) & ~static_cast<std::size_t>(3); }

// True when [offset, offset + length) lies inside [0, limit), without overflow.
bool Within(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// One node of a version block: its extent, key and value, all checked against its parent.
struct VersionNode {
  std::size_t start;
  std::size_t end;
  std::size_t key_offset;
  std::size_t key_units;
  std::size_t value_offset;
  std::size_t value_bytes;
  std::size_t children_offset;
  bool is_text;
};

bool ReadNode(const unsigned char* block, std::size_t start, std::size_t limit, VersionNode* node) {
  if (!Within(start, 6, limit)) return false;
  const std::size_t length = WordAt(block + start);
  const std::size_t value_length = WordAt(block + start + 2);
  const std::uint16_t type = WordAt(block + start + 4);
  if (length < 6 || !Within(start, length, limit)) return false;
  node->start = start;
  node->end = start + length;
  node->is_text = (type == 1);
  node->key_offset = start + 6;
  std::size_t p = node->key_offset;
  while (p + 2 <= node->end && WordAt(block + p) != 0) p += 2;
  if (p + 2 > node->end) return false;  // the key has no terminating zero inside the node
  node->key_units = (p - node->key_offset) / 2;
  node->value_offset = AlignUp4(p + 2);
  if (node->value_offset > node->end) node->value_offset = node->end;
  std::size_t value_bytes = node->is_text ? value_length * 2 : value_length;
  if (value_bytes > node->end - node->value_offset) value_bytes = node->end - node->value_offset;
  node->value_bytes = value_bytes;
  node->children_offset = AlignUp4(node->value_offset + value_bytes);
  return true;
}

bool KeyEquals(const unsigned char* block, const VersionNode& node, const char* name,
               std::size_t name_length) {
  if (node.key_units != name_length) return false;
  for (std::size_t i = 0; i < name_length; ++i) {
    std::uint16_t unit = WordAt(block + node.key_offset + 2 * i);
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (unit >= 'A' && unit <= 'Z') unit = static_cast<std::uint16_t>(unit - 'A' + 'a');
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (unit != c) return false;
  }
  return true;
}

bool FindChild(const unsigned char* block, const VersionNode& parent, const char* name,
               std::size_t name_length, VersionNode* child) {
  for (std::size_t at = parent.children_offset; at < parent.end;) {
    if (!ReadNode(block, at, parent.end, child)) return false;
    if (KeyEquals(block, *child, name, name_length)) return true;
    at = AlignUp4(child->end);  // each node is at least 6 bytes: the walk always advances
  }
  return false;
}

}  // namespace

bool FindVersionValue(const unsigned char* block, std::size_t block_size, const char* sub_block,
                      std::size_t* value_offset, std::size_t* value_bytes, bool* is_text) {
  VersionNode node;
  if (block == nullptr || sub_block == nullptr || !ReadNode(block, 0, block_size, &node)) {
    return false;
  }
  const char* p = sub_block;
  for (;;) {
    while (*p == '\\') ++p;
    if (*p == '\0') break;
    const char* component = p;
    while (*p != '\0' && *p != '\\') ++p;
    VersionNode child;
    if (!FindChild(block, node, component, static_cast<std::size_t>(p - component), &child)) {
      return false;
    }
    node = child;
  }
  *value_offset = node.value_offset;
  *value_bytes = node.value_bytes;
  *is_text = node.is_text;
  return true;
}

std::size_t ConvertUtf16ToUtf8(const unsigned char* text, std::size_t value_bytes, char* out,
                               std::size_t out_size) {
  if (out_size == 0) return 0;
  std::size_t written = 0;
  auto put = [&](std::uint32_t byte) {
    if (written + 1 < out_size) out[written++] = static_cast<char>(byte);
  };
  for (std::size_t i = 0; i + 2 <= value_bytes;) {
    std::uint32_t code = WordAt(text + i);
    i += 2;
    if (code == 0) break;
    if (code >= 0xD800 && code < 0xDC00 && i + 2 <= value_bytes) {
      std::uint32_t low = WordAt(text + i);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (code >= 0xD800 && code < 0xE000) code = '?';  // a lone surrogate is no character
    std::size_t needed = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (written + needed >= out_size) break;  // never a character cut in half
    if (needed == 1) {
      put(code);
    } else if (needed == 2) {
      put(0xC0 | (code >> 6));
      put(0x80 | (code & 0x3F));
    } else if (needed == 3) {
      put(0xE0 | (code >> 12));
      put(0x80 | ((code >> 6) & 0x3F));
      put(0x80 | (code & 0x3F));
    } else {
      put(0xF0 | (code >> 18));
      put(0x80 | ((code >> 12) & 0x3F));
      put(0x80 | ((code >> 6) & 0x3F));
      put(0x80 | (code & 0x3F));
    }
  }
  out[written] = '\0';
  return written;
}

namespace {

// The section search for one ELF class, whose header and section header types are given.
template <typename FileHeader, typename SectionHeader>
bool FindSectionOfClass(ReadAtFunction read_at, void* source, std::uint64_t file_size,
                        const char* name, std::uint64_t* offset, std::uint64_t* size) {
  FileHeader header;
  if (!read_at(source, 0, &header, sizeof(header))) return false;
  const std::uint64_t table_offset = header.e_shoff, entry_size = header.e_shentsize;
  const std::uint64_t count = header.e_shnum, names_index = header.e_shstrndx;
  // Entries larger than any ELF class defines are refused: they would only cost memory.
  if (count == 0 || entry_size < sizeof(SectionHeader) || entry_size > 256 ||
      names_index >= count) {
    return false;
  }
  if (!Within(table_offset, count * entry_size, file_size)) return false;
  std::vector<unsigned char> table(static_cast<std::size_t>(count * entry_size));
  if (!read_at(source, table_offset, table.data(), table.size())) return false;
  auto section_at = [&](std::uint64_t index) {
    SectionHeader section;
    std::memcpy(&section, table.data() + index * entry_size, sizeof(section));
    return section;
  };

  const SectionHeader names = section_at(names_index);
  if (names.sh_type == SHT_NOBITS || !Within(names.sh_offset, names.sh_size, file_size)) {
    return false;
  }
  const std::size_t name_length = std::strlen(name);
  std::vector<char> candidate(name_length + 1);
  for (std::uint64_t i = 0; i < count; ++i) {
    const SectionHeader s = section_at(i);
    if (!Within(s.sh_name, name_length + 1, names.sh_size)) continue;
    if (!read_at(source, names.sh_offset + s.sh_name, candidate.data(), candidate.size())) continue;
    if (std::memcmp(candidate.data(), name, name_length + 1) != 0) continue;
    if (s.sh_type == SHT_NOBITS || !Within(s.sh_offset, s.sh_size, file_size)) return false;
    *offset = s.sh_offset;
    *size = s.sh_size;
    return true;
  }
  return false;
}

}  // namespace

bool FindElfSection(ReadAtFunction read_at, void* source, std::uint64_t file_size, const char* name,
                    std::uint64_t* offset, std::uint64_t* size) {
  unsigned char ident[EI_NIDENT];
  if (!read_at(source, 0, ident, sizeof(ident))) return false;
  if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
  // Only files of this machine's byte order are read.
  const std::uint16_t probe = 1;
  const unsigned char host_data =
      *reinterpret_cast<const unsigned char*>(&probe) == 1 ? ELFDATA2LSB : ELFDATA2MSB;
  if (ident[EI_DATA] != host_data) return false;
  if (ident[EI_CLASS] == ELFCLASS64) {
    return FindSectionOfClass<Elf64_Ehdr, Elf64_Shdr>(read_at, source, file_size, name, offset,
                                                      size);
  }
  if (ident[EI_CLASS] == ELFCLASS32) {
    return FindSectionOfClass<Elf32_Ehdr, Elf32_Shdr>(read_at, source, file_size, name, offset,
                                                      size);
  }
  return false;
}
