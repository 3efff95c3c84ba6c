// Our Linux module and version services against real files: the built executable's version
// block, the resource that windres writes for Windows, and damaged copies of the executable.
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/linux/version_block.h"
#include "platform/linux/version_section.h"
#include "process/process_services.h"
#include "tests/e2e/process_runner.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::uint16_t Word(const Bytes& b, size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t Dword(const Bytes& b, size_t at) { return Word(b, at) | (Word(b, at + 2) << 16); }

// An independent, strict walk of a VS_VERSIONINFO block, node by node in order.
struct WalkedNode {
  int depth;
  std::string key;
  bool text;
  Bytes value;
  std::string Text() const {
    std::string s;
    for (size_t i = 0; i + 1 < value.size() && Word(value, i) != 0; i += 2) {
      s += static_cast<char>(Word(value, i));
    }
    return s;
  }
};

size_t WalkNode(const Bytes& b, size_t start, int depth, std::vector<WalkedNode>& nodes) {
  const size_t end = start + Word(b, start);
  WalkedNode node{depth, "", Word(b, start + 4) == 1, {}};
  size_t p = start + 6;
  for (; Word(b, p) != 0; p += 2) node.key += static_cast<char>(Word(b, p));
  p = (p + 2 + 3) & ~size_t{3};
  size_t value_bytes = node.text ? Word(b, start + 2) * 2u : Word(b, start + 2);
  node.value.assign(b.begin() + static_cast<long>(p),
                    b.begin() + static_cast<long>(p + value_bytes));
  nodes.push_back(node);
  for (p = (p + value_bytes + 3) & ~size_t{3}; p < end; p = (p + 3) & ~size_t{3}) {
    p = WalkNode(b, p, depth + 1, nodes);
  }
  EXPECT_LE(end, b.size());
  return end;
}

std::vector<WalkedNode> WalkBlock(const Bytes& block) {
  std::vector<WalkedNode> nodes;
  WalkNode(block, 0, 0, nodes);
  return nodes;
}

// The block that the program's build must carry, on either platform.
void ExpectVolmoVersionBlock(const Bytes& block) {
  std::vector<WalkedNode> nodes = WalkBlock(block);
  ASSERT_EQ(nodes.size(), 17u);  // root, StringFileInfo, table, 12 strings, VarFileInfo, Var
  EXPECT_EQ(nodes[0].key, "VS_VERSION_INFO");
  const Bytes& fixed = nodes[0].value;
  ASSERT_EQ(fixed.size(), 52u);
  EXPECT_EQ(Dword(fixed, 0), 0xFEEF04BDu);             // signature
  EXPECT_EQ(Dword(fixed, 8), 0x00010000u);             // file version 1.0
  EXPECT_EQ(Dword(fixed, 12), 0x00000002u);            // .0.2
  EXPECT_EQ(Dword(fixed, 16), 0x00010000u);            // product version 1.0
  EXPECT_EQ(Dword(fixed, 20), 0x00000002u);            // .0.2
  EXPECT_EQ(Dword(fixed, 24), 0x3Fu);                  // flags mask
  EXPECT_EQ(Dword(fixed, 28), 0u);                     // flags
  EXPECT_EQ(Dword(fixed, 32), 0x40004u);               // VOS_NT_WINDOWS32
  EXPECT_EQ(Dword(fixed, 36), 1u);                     // VFT_APP
  EXPECT_EQ(Dword(fixed, 40), 0u);                     // subtype
  EXPECT_EQ(Dword(fixed, 44) | Dword(fixed, 48), 0u);  // date

  EXPECT_EQ(nodes[1].key, "StringFileInfo");
  EXPECT_EQ(nodes[2].key, "0c0904b0");
  struct Entry {
    const char* key;
    const char* value;  // nullptr: the maker's own text, any but empty
  } entries[] = {{"Comments", ""},
                 {"CompanyName", nullptr},
                 {"FileDescription", "Volmo"},
                 {"FileVersion", "1, 0, 0, 2"},
                 {"InternalName", "Volmo"},
                 {"LegalCopyright", nullptr},
                 {"LegalTrademarks", ""},
                 {"OriginalFilename", "Volmo.exe"},
                 {"PrivateBuild", ""},
                 {"ProductName", nullptr},
                 {"ProductVersion", "1, 0, 0, 2"},
                 {"SpecialBuild", ""}};
  for (size_t i = 0; i < 12; ++i) {
    const WalkedNode& node = nodes[3 + i];
    EXPECT_EQ(node.depth, 3);
    EXPECT_EQ(node.key, entries[i].key);
    if (entries[i].value) {
      EXPECT_EQ(node.Text(), entries[i].value) << node.key;
    } else {
      EXPECT_FALSE(node.Text().empty()) << node.key;
    }
  }
  EXPECT_EQ(nodes[9 + 3].Text().find(nodes[4].Text()), 0u) << "ProductName starts with the maker";
  EXPECT_EQ(nodes[15].key, "VarFileInfo");
  EXPECT_EQ(nodes[16].key, "Translation");
  ASSERT_EQ(nodes[16].value.size(), 4u);
  EXPECT_EQ(Word(nodes[16].value, 0), 0x0C09);
  EXPECT_EQ(Word(nodes[16].value, 2), 0x04B0);
}

bool ReadFromBytes(void* source, std::uint64_t offset, void* buffer, size_t length) {
  const Bytes& bytes = *static_cast<const Bytes*>(source);
  if (offset > bytes.size() || length > bytes.size() - offset) return false;
  std::memcpy(buffer, bytes.data() + offset, length);
  return true;
}

Bytes VersionSectionOf(const Bytes& file) {
  std::uint64_t offset = 0, size = 0;
  if (!FindElfSection(ReadFromBytes, const_cast<Bytes*>(&file), file.size(), VOLMO_VERSION_SECTION,
                      &offset, &size)) {
    return {};
  }
  return Bytes(file.begin() + static_cast<long>(offset),
               file.begin() + static_cast<long>(offset + size));
}

// The text that the version services give for FileVersion, "" when none; the answer must lie,
// zero-terminated, inside the buffer that GetFileVersionInfoSizeA asked for.
std::string QueryFileVersion(const std::string& path) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return "";
  std::vector<char> buffer(size);
  if (!GetFileVersionInfoA(path.c_str(), handle, size, buffer.data())) return "";
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(buffer.data(), "\\StringFileInfo\\0c0904b0\\FileVersion", &value, &length)) {
    return "";
  }
  const char* text = static_cast<const char*>(value);
  const char* end = buffer.data() + buffer.size();
  EXPECT_TRUE(text >= buffer.data() && text < end);
  if (!(text >= buffer.data() && text < end)) return "";
  EXPECT_NE(std::memchr(text, 0, static_cast<size_t>(end - text)), nullptr);
  return text;
}

TEST(VersionServices, ModuleFileNameIsTheRunningExecutable) {
  char path[1024];
  DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof(path));
  char expected[1024];
  ssize_t expected_length = readlink("/proc/self/exe", expected, sizeof(expected) - 1);
  ASSERT_GT(expected_length, 0);
  expected[expected_length] = '\0';
  EXPECT_EQ(length, static_cast<DWORD>(expected_length));
  EXPECT_STREQ(path, expected);
  // A buffer too small: cut, terminated, and reported as its size.
  char small[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 4u);
  EXPECT_EQ(std::strlen(small), 3u);
  EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
}

TEST(VersionServices, BuiltExecutableCarriesTheVersionBlock) {
  Bytes block = VersionSectionOf(ReadWholeFile(VOLMO_EXE_PATH));
  ASSERT_FALSE(block.empty());
  ExpectVolmoVersionBlock(block);
  EXPECT_EQ(QueryFileVersion(VOLMO_EXE_PATH), "1, 0, 0, 2");
}

TEST(VersionServices, QueriesFindFixedPartTranslationAndStringsCaseBlind) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(VOLMO_EXE_PATH, &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(VOLMO_EXE_PATH, handle, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
  EXPECT_EQ(length, 52u);
  std::uint32_t signature;
  std::memcpy(&signature, value, 4);
  EXPECT_EQ(signature, 0xFEEF04BDu);
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  std::uint32_t translation;
  std::memcpy(&translation, value, 4);
  EXPECT_EQ(translation, 0x04B00C09u);
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\stringfileinfo\\0C0904B0\\OriginalFilename", &value,
                             &length));
  EXPECT_STREQ(static_cast<char*>(value), "Volmo.exe");
  // Earlier answers stay where they were: each string has its own copy.
  ASSERT_TRUE(
      VerQueryValueA(block.data(), "\\StringFileInfo\\0c0904b0\\InternalName", &value, &length));
  EXPECT_STREQ(static_cast<char*>(value), "Volmo");
  void* again = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\0c0904b0\\OriginalFilename", &again,
                             &length));
  EXPECT_STREQ(static_cast<char*>(value), "Volmo");
  EXPECT_FALSE(
      VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\0c0904b0\\File", &value, &length));
}

TEST(VersionServices, FilesWithoutVersionSectionHaveNone) {
  const std::string dir = MakeTempDir();
  WriteWholeFile(dir + "/text", Bytes{'h', 'e', 'l', 'l', 'o'});
  WriteWholeFile(dir + "/empty", Bytes{});
  for (const std::string& path : {std::string("/proc/self/exe"), dir + "/text", dir + "/empty",
                                  dir + "/missing", dir, std::string("/dev/zero")}) {
    DWORD handle = 7;
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << path;
    EXPECT_EQ(handle, 0u);
  }
  RemoveTree(dir);
}

TEST(VersionServices, DamagedFilesGiveNothingOrTheTextThatIsThere) {
  const Bytes original = ReadWholeFile(VOLMO_EXE_PATH);
  std::uint64_t section_offset = 0, section_size = 0;
  ASSERT_TRUE(FindElfSection(ReadFromBytes, const_cast<Bytes*>(&original), original.size(),
                             VOLMO_VERSION_SECTION, &section_offset, &section_size));
  Elf64_Ehdr header;
  std::memcpy(&header, original.data(), sizeof(header));
  size_t version_header = 0;  // the section header of the version section
  for (size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr s;
    std::memcpy(&s, original.data() + header.e_shoff + i * header.e_shentsize, sizeof(s));
    if (s.sh_offset == section_offset && s.sh_size == section_size) {
      version_header = header.e_shoff + i * header.e_shentsize;
    }
  }
  ASSERT_NE(version_header, 0u);
  const size_t block = section_offset;
  const size_t file_version_at = [&] {
    const char16_t key[] = u"FileVersion";
    for (size_t at = block; at + sizeof(key) < block + section_size; at += 2) {
      if (std::memcmp(original.data() + at, key, sizeof(key) - 2) == 0) return at - 6;
    }
    return size_t{0};
  }();
  ASSERT_NE(file_version_at, 0u);

  auto put16 = [](Bytes& b, size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); };
  auto put64 = [](Bytes& b, size_t at, std::uint64_t v) { std::memcpy(&b[at], &v, 8); };
  const size_t shoff = offsetof(Elf64_Ehdr, e_shoff);
  struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    bool version_survives;
  } damages[] = {
      {"cut inside the ELF header", [&](Bytes& b) { b.resize(40); }, false},
      {"cut inside the section table", [&](Bytes& b) { b.resize(header.e_shoff + 100); }, false},
      {"cut inside the block", [&](Bytes& b) { b.resize(block + 100); }, false},
      {"cut before the last byte", [&](Bytes& b) { b.pop_back(); }, false},
      {"not ELF", [&](Bytes& b) { b[1] = 'X'; }, false},
      {"other byte order", [&](Bytes& b) { b[EI_DATA] = ELFDATA2MSB; }, false},
      {"section table past the end", [&](Bytes& b) { put64(b, shoff, b.size() - 8); }, false},
      {"section table offset wraps", [&](Bytes& b) { put64(b, shoff, ~0ull - 8); }, false},
      {"no sections", [&](Bytes& b) { put16(b, offsetof(Elf64_Ehdr, e_shnum), 0); }, false},
      {"many sections", [&](Bytes& b) { put16(b, offsetof(Elf64_Ehdr, e_shnum), 0xFFFF); }, false},
      {"tiny entries", [&](Bytes& b) { put16(b, offsetof(Elf64_Ehdr, e_shentsize), 1); }, false},
      {"names section out of range",
       [&](Bytes& b) { put16(b, offsetof(Elf64_Ehdr, e_shstrndx), 0xFFFE); }, false},
      {"section larger than the file",
       [&](Bytes& b) { put64(b, version_header + offsetof(Elf64_Shdr, sh_size), ~0ull); }, false},
      {"section at the very end",
       [&](Bytes& b) { put64(b, version_header + offsetof(Elf64_Shdr, sh_offset), b.size() - 4); },
       false},
      {"block length 0", [&](Bytes& b) { put16(b, block, 0); }, false},
      {"block length 7", [&](Bytes& b) { put16(b, block, 7); }, false},
      {"block length beyond the section", [&](Bytes& b) { put16(b, block, 0xFFFF); }, true},
      {"root key without its zero",
       [&](Bytes& b) { std::memset(&b[block + 6], 'A', section_size - 6); }, false},
      {"string value length huge", [&](Bytes& b) { put16(b, file_version_at + 2, 0xFFFF); }, true},
      {"string node length 3", [&](Bytes& b) { put16(b, file_version_at, 3); }, false},
      {"string node length beyond its table", [&](Bytes& b) { put16(b, file_version_at, 0xFFF0); },
       false},
  };
  const std::string dir = MakeTempDir();
  for (const Damage& damage : damages) {
    Bytes copy = original;
    damage.apply(copy);
    const std::string path = dir + "/damaged";
    WriteWholeFile(path, copy);
    std::string version = QueryFileVersion(path);
    if (damage.version_survives) {
      EXPECT_EQ(version.rfind("1, 0, 0, 2", 0), 0u) << damage.what << ": " << version;
    } else {
      EXPECT_EQ(version, "") << damage.what;
    }
  }
  RemoveTree(dir);
}

TEST(VersionServices, SixteenBitTextBecomesUtf8) {
  const char16_t text[] = u"1.0 \u00e4\u20ac\U0001F600";
  Bytes utf16(reinterpret_cast<const unsigned char*>(text),
              reinterpret_cast<const unsigned char*>(text) + sizeof(text));
  char out[64];
  EXPECT_EQ(ConvertUtf16ToUtf8(utf16.data(), utf16.size(), out, sizeof(out)), 13u);
  EXPECT_STREQ(out, "1.0 \xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
  // Too little room: cut before a character, never inside one.
  EXPECT_EQ(ConvertUtf16ToUtf8(utf16.data(), utf16.size(), out, 8), 6u);
  EXPECT_STREQ(out, "1.0 \xC3\xA4");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(ConvertUtf16ToUtf8(reinterpret_cast<const unsigned char*>(lone), sizeof(lone), out,
                               sizeof(out)),
            3u);
  EXPECT_STREQ(out, "a?b");
}

#ifdef VOLMO_WINDOWS_RES
// The resource that windres compiles from the same script for the Windows executable.
struct Resource {
  std::uint16_t type, id, language;
  Bytes data;
};

std::vector<Resource> ReadResFile(const Bytes& res) {
  std::vector<Resource> resources;
  for (size_t at = 0; at + 32 <= res.size();) {
    const std::uint32_t data_size = Dword(res, at), header_size = Dword(res, at + 4);
    size_t p = at + 8;
    std::uint16_t ids[2] = {0, 0};
    for (std::uint16_t& id : ids) {  // type, then name: numeric ids or strings
      if (Word(res, p) == 0xFFFF) {
        id = Word(res, p + 2);
        p += 4;
      } else {
        while (Word(res, p) != 0) p += 2;
        p += 2;
      }
    }
    p = (p + 3) & ~size_t{3};
    const std::uint16_t language = Word(res, p + 6);
    const size_t data = at + header_size;
    resources.push_back({ids[0], ids[1], language,
                         Bytes(res.begin() + static_cast<long>(data),
                               res.begin() + static_cast<long>(data + data_size))});
    at = (data + data_size + 3) & ~size_t{3};
  }
  return resources;
}

TEST(WindowsResource, HoldsTheSameVersionBlockAndTheIcon) {
  std::vector<Resource> resources = ReadResFile(ReadWholeFile(VOLMO_WINDOWS_RES));
  const Resource* version = nullptr;
  const Resource* icon = nullptr;
  const Resource* icon_group = nullptr;
  for (const Resource& r : resources) {
    if (r.type == 16 && r.id == 1) version = &r;       // RT_VERSION 1
    if (r.type == 3 && r.id == 1) icon = &r;           // RT_ICON 1
    if (r.type == 14 && r.id == 101) icon_group = &r;  // RT_GROUP_ICON 101
  }
  ASSERT_NE(version, nullptr);
  ASSERT_NE(icon, nullptr);
  ASSERT_NE(icon_group, nullptr);
  for (const Resource* r : {version, icon, icon_group}) EXPECT_EQ(r->language, 0x0C09);
  ExpectVolmoVersionBlock(version->data);
  EXPECT_EQ(icon->data.size(), 744u);
  EXPECT_EQ(Dword(icon->data, 4), 32u);     // width
  EXPECT_EQ(Dword(icon->data, 8), 64u);     // height: image and mask
  EXPECT_EQ(Word(icon->data, 12), 1);       // planes
  EXPECT_EQ(Word(icon->data, 14), 4);       // bits per pixel: 16 colours
  EXPECT_EQ(Word(icon_group->data, 4), 1);  // one image in the group
}
#endif

}  // namespace
