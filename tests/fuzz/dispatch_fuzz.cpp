// Fuzzes the entry function over arbitrary argument vectors (any count, any bytes, entries
// missing), with the fake process table linked in place of the platform layer. Every run must
// print exactly what a small model of the program says, terminate nothing but the process that
// the target names by id or by name, and close every handle it opened.
//
// Input: the first byte's low two bits add up to 3 to the count beyond the entries given (the
// vector then holds null entries there); the rest is the entries, separated by zero bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "cli/version_banner.h"
#include "tests/fake/fake_process_table.h"

namespace {

const DWORD OWN_ID = 77;

// The table every run starts from: in snapshot order.
std::vector<FakeProcess> Table() {
  std::vector<FakeProcess> table;
  auto add = [&](DWORD id, const char* name) -> FakeProcess& {
    table.push_back(FakeNamedProcess(id, name));
    return table.back();
  };
  add(4, "System");
  add(8, "notepad.exe");
  add(12, "NOTEPAD.EXE");
  add(OWN_ID, "volmo");
  add(16, "ghost.exe").modules_readable = false;
  add(20, "kill-only.exe").grants_read = false;
  add(24, "stubborn.exe").terminate_refused = true;
  add(28, "guarded.exe").grants_terminate = false;
  add(32, "volmo");
  add(0xFFFFFFFF, "minus-one.exe");
  add(0x80000000, "\xC4rger.exe");
  return table;
}

bool FoldedEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::int32_t ModelParse(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<std::uint64_t>(text[i] - '0')) % 4294967296u;
  }
  if (negative) value = (4294967296u - value) % 4294967296u;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

const char USAGE[] =
    "Usage: Volmo [command] ...\n"
    "   Volmo -l                                 - list processes\n"
    "   Volmo -k [ProcessID | ProcessName]       - kill process\n";

std::string NameThrough(const FakeProcess& p, bool readable) {
  return readable && p.modules_readable ? p.name : "[unknown]";
}

// What the program must print and return, and the one id it may terminate (0: none).
struct Expected {
  std::string output;
  int result;
  DWORD killed;
};

Expected ModelKill(const std::vector<FakeProcess>& table, const std::string& target) {
  std::int32_t id = ModelParse(target);
  const bool by_name = (id == 0);
  if (by_name) {
    for (const FakeProcess& p : table) {
      if (p.id != OWN_ID && p.grants_read && FoldedEqual(target, NameThrough(p, true))) {
        id = static_cast<std::int32_t>(p.id);
        break;
      }
    }
    if (id == 0) return {"Process not found : " + target + "\n", -2, 0};
  }
  const FakeProcess* p = nullptr;
  for (const FakeProcess& candidate : table) {
    if (candidate.id == static_cast<DWORD>(id)) p = &candidate;
  }
  const std::string id_text = std::to_string(id);
  if (p == nullptr || !p->grants_terminate)
    return {"Error: Opening process: " + id_text + "\n", -1, 0};
  const std::string line =
      "Terminating Process - " + id_text + " : " + NameThrough(*p, p->grants_read) + "\n";
  if (p->terminate_refused) return {line + "Error: Terminating process: " + id_text + "\n", -3, 0};
  return {line, 0, p->id};
}

Expected Model(const std::vector<FakeProcess>& table, int argc, char** argv) {
  if (argc > 1 && argv[1] != nullptr) {
    const std::string command = argv[1];
    if (FoldedEqual(command, "-l")) {
      std::string listing;
      for (const FakeProcess& p : table) {
        if (p.grants_read) {
          listing +=
              std::to_string(static_cast<std::int32_t>(p.id)) + "\t" + NameThrough(p, true) + "\n";
        }
      }
      return {listing, 0, 0};
    }
    if (FoldedEqual(command, "-k")) {
      if (argc < 3 || argv[2] == nullptr) return {USAGE, 1, 0};
      return ModelKill(table, argv[2]);
    }
    return {"Unknown command: " + command, 0, 0};
  }
  return {std::string("Volmo Version 1, 0, 0, 2\n") + ATTRIBUTION_LINE + "\n" + USAGE, 1, 0};
}

int g_output = -1;  // standard output goes to this in-memory file

std::string TakeOutput() {
  std::fflush(stdout);
  std::cout.flush();
  std::string text;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(g_output, buffer, sizeof(buffer), at)) > 0; at += n) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

void Fail(const char* what, const Expected& expected, const std::string& output, int result) {
  std::fprintf(stderr, "%s\nexpected (%d): [%s]\ngot (%d): [%s]\n", what, expected.result,
               expected.output.c_str(), result, output.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_output = memfd_create("volmo-fuzz-output", 0);
  dup2(g_output, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  std::vector<std::string> entries(1, "volmo");
  std::string current;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      entries.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (size > 1) entries.push_back(current);
  const int extra = data[0] & 3;
  std::vector<char*> argv;
  for (std::string& entry : entries) argv.push_back(&entry[0]);
  for (int i = 0; i <= extra; ++i) argv.push_back(nullptr);  // argv[argc] and beyond: null
  const int argc = static_cast<int>(entries.size()) + ((data[0] & 4) ? extra : 0);

  const std::vector<FakeProcess> table = Table();
  FakeReset();
  FakeSetOwnProcessId(OWN_ID);
  for (const FakeProcess& p : table) FakeAddProcess(p);
  const Expected expected = Model(table, argc, argv.data());

  ftruncate(g_output, 0);
  lseek(g_output, 0, SEEK_SET);  // shared with standard output: its next write starts here
  const int result = DispatchCommand(argc, argv.data());
  const std::string output = TakeOutput();

  if (output != expected.output || result != expected.result) {
    Fail("output or result differs from the model", expected, output, result);
  }
  const std::vector<DWORD> killed = FakeTerminatedIds();
  if (killed.size() > 1 || (killed.size() == 1 && killed[0] != expected.killed) ||
      (killed.empty() && expected.killed != 0)) {
    Fail("terminated a process the target does not name", expected, output, result);
  }
  if (FakeOpenHandleCount() != 0 || FakeMostHandlesOpenAtOnce() > 1) {
    Fail("handles left open, or two open at once", expected, output, result);
  }
  return 0;
}
