#include "cli/dispatch.h"

#include <cstdio>

#include "cli/version_banner.h"
#include "process/kill_command.h"
#include "process/process_list.h"
#include "process/text_compare.h"

void PrintUsage() {
  std::printf("Usage: Volmo [command] ...\n");
  std::printf("   Volmo -l                                 - list processes\n");
  std::printf("   Volmo -k [ProcessID | ProcessName]       - kill process\n");
}

int DispatchCommand(int argc, char* argv[]) {
  if (argc > 1 && argv[1] != nullptr) {
    const char* command = argv[1];
    if (EqualsIgnoringCase(command, "-l")) return ListProcesses();
    if (EqualsIgnoringCase(command, "-k")) {
      // Without a target there is nothing to kill: show how the command is written.
      if (argc < 3 || argv[2] == nullptr) {
        PrintUsage();
        return 1;
      }
      return KillProcess(argv[2]);
    }
    std::printf("Unknown command: %s", command);
    return 0;
  }
  ShowVersion(GetModuleHandleA(nullptr), "Volmo");
  PrintUsage();
  return 1;
}
