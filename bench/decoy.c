/* A sleeping decoy for the benchmark: sleeps for the seconds given (at most ten minutes), so
 * that it ends by itself should the benchmark be stopped. */
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
  int seconds = argc > 1 ? atoi(argv[1]) : 300;
  if (seconds <= 0 || seconds > 600) seconds = 300;
  sleep((unsigned)seconds);
  return 0;
}
