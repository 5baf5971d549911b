/* Runs a command and prints its peak resident set size in KiB on standard error, as
 * "peak_rss KIB".
 *
 * The peak is read from /proc at the moment the command's process exits (stopped there through
 * ptrace). The peak that wait4 and /usr/bin/time report is no good for small programs: the kernel
 * counts into it the memory of the process the command was started from (Python's, the shell's,
 * or the copy of /usr/bin/time's own), which is larger than a small static program. */

#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static long PeakOf(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  FILE* status = fopen(path, "r");
  long peak = -1;
  char line[256];
  while (status && fgets(line, sizeof line, status)) {
    sscanf(line, "VmHWM: %ld", &peak);
  }
  if (status) {
    fclose(status);
  }
  return peak;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: peak_rss COMMAND [ARGUMENT...]\n", stderr);
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    return 2;
  }
  if (pid == 0) {
    ptrace(PTRACE_TRACEME, 0, NULL, NULL);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  long peak = -1;
  int status;
  /* The first stop is the one after execvp; from then on the exit is a stop of its own. */
  if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
    return 2;
  }
  ptrace(PTRACE_SETOPTIONS, pid, NULL,
         (void*)(long)(PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL));
  int signal_to_pass = 0;
  for (;;) {
    ptrace(PTRACE_CONT, pid, NULL, (void*)(long)signal_to_pass);
    signal_to_pass = 0;
    if (waitpid(pid, &status, 0) != pid) {
      return 2;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      break;
    }
    const int event = status >> 16;
    if (event == PTRACE_EVENT_EXIT) {
      peak = PeakOf(pid);
    } else if (event == 0 && WSTOPSIG(status) != SIGTRAP) {
      signal_to_pass = WSTOPSIG(status);
    }
  }
  fprintf(stderr, "peak_rss %ld\n", peak);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
