// The entry of the GUI-subsystem executable: no window, no console; only the message boxes of a
// failed launch are ever seen. It is the wide entry, so that the arguments arrive as the shell
// passed them (see launcher/ansi_argument.h). The documents come from the command line, or from a
// selection that Explorer drops on the launcher's class (see launcher/selection.h).

#include <windows.h>

#include <cstdlib>

#include "launcher/launch.h"
#include "launcher/selection.h"

#ifdef __MINGW32__
// Arguments arrive as typed: the shell quotes paths, and a "*.pdb" is for the main application to
// interpret. (The Microsoft runtime expands nothing unless asked to.)
extern "C" {
int _dowildcard = 0;
}
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Explorer opens a selection through COM, which starts the launcher to serve its class.
  if (StartedToServeSelection(__argc, __wargv)) {
    return LaunchSelection(__wargv[0]);
  }
  return Launch(__argc, __wargv);
}
