/* Runs a command as a child subreaper: every process orphaned below it (the benchmark's
 * detached victims) is handed to it and reaped, so that none lingers as a zombie.
 *   subreaper COMMAND [ARG ...]     exits with the command's status */
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

/* Ends every process whose parent is this one: only descendants of the command are ever
 * handed to a subreaper, so nothing else is touched. */
static void end_children(void) {
  DIR* proc = opendir("/proc");
  if (proc == NULL) return;
  struct dirent* e;
  while ((e = readdir(proc)) != NULL) {
    char path[300], stat[512];
    snprintf(path, sizeof(path), "/proc/%s/stat", e->d_name);
    FILE* f = fopen(path, "r");
    if (f == NULL) continue;
    size_t n = fread(stat, 1, sizeof(stat) - 1, f);
    fclose(f);
    stat[n] = '\0';
    char* fields = strrchr(stat, ')');
    int ppid = 0;
    if (fields && sscanf(fields + 1, " %*c %d", &ppid) == 1 && ppid == getpid()) {
      kill(atoi(e->d_name), SIGKILL);
    }
  }
  closedir(proc);
}

int main(int argc, char* argv[]) {
  if (argc < 2) return 2;
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) perror("PR_SET_CHILD_SUBREAPER");
  pid_t command = fork();
  if (command == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int command_status = 1, status;
  for (;;) {
    pid_t ended = wait(&status);
    if (ended < 0) break;
    if (ended == command) {
      command_status = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
      end_children();  /* whatever the command left behind */
    }
  }
  return command_status;
}
