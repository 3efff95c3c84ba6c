/* The least a kill by name can cost: read /proc in order, one readlink of /proc/PID/exe per
 * process, stop at the first whose base name is NAME and send it SIGKILL.
 *   floor_kill NAME     exits 0 when it killed one, 1 when none bore the name */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  char entries[32768], path[300], target[4096];
  int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return 1;
  for (;;) {
    ssize_t n = getdents64(proc, entries, sizeof(entries));
    if (n <= 0) break;
    for (ssize_t off = 0; off < n;) {
      struct dirent64* e = (struct dirent64*)(entries + off);
      off += e->d_reclen;
      if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
      snprintf(path, sizeof(path), "/proc/%s/exe", e->d_name);
      ssize_t len = readlink(path, target, sizeof(target) - 1);
      if (len < 0) continue;
      target[len] = '\0';
      const char* base = strrchr(target, '/');
      base = base ? base + 1 : target;
      if (strcmp(base, argv[1]) == 0) return kill(atoi(e->d_name), SIGKILL) == 0 ? 0 : 1;
    }
  }
  return 1;
}
