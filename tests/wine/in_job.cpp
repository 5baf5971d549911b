// Runs a program inside a job object that ends all its processes when its last handle is closed
// and lets them leave it on request, as some terminals and automation tools run their children.
// Closes the job, and so ends what is still in it, once the file named by the first argument
// exists (up to 60 seconds).
//   in_job FILE PROGRAM ARGUMENT

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: in_job FILE PROGRAM ARGUMENT\n", stderr);
    return 2;
  }
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!job ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    std::fprintf(stderr, "in_job: no job (%lu)\n", GetLastError());
    return 2;
  }
  std::string command_line = std::string("\"") + argv[2] + "\" \"" + argv[3] + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Suspended until it is in the job, so that all it starts is in the job too.
  if (!CreateProcessA(argv[2], command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process) ||
      !AssignProcessToJobObject(job, process.hProcess) || ResumeThread(process.hThread) == -1u) {
    std::fprintf(stderr, "in_job: not started in the job (%lu)\n", GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int tries = 0; tries < 600 && GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES;
       ++tries) {
    Sleep(100);
  }
  CloseHandle(job);
  return 0;
}
