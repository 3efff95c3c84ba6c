// A process for the tests to list and kill. It says "ready" once it is set up, then sleeps and
// ends by itself, so that a failed test never leaves it behind for long.
//   victim [seconds] [nondumpable]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

int main(int argc, char* argv[]) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
  if (seconds <= 0 || seconds > 600) seconds = 120;
#ifndef _WIN32
  // End with the test that started us.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (argc > 2 && std::strcmp(argv[2], "nondumpable") == 0) prctl(PR_SET_DUMPABLE, 0);
#endif
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
#ifdef _WIN32
  Sleep(static_cast<DWORD>(seconds) * 1000);
#else
  sleep(static_cast<unsigned>(seconds));
#endif
  return 0;
}
