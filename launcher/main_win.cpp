// The entry of the GUI-subsystem executable: no window, no console; only the message boxes of a
// failed launch are ever seen.

#include <windows.h>

#include <cstdlib>

#include "launcher/launch.h"

#ifdef __MINGW32__
// Arguments arrive as typed: the shell quotes paths, and a "*.pdb" is for the main application to
// interpret. (The Microsoft runtime expands nothing unless asked to.)
extern "C" {
int _dowildcard = 0;
}
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Launch(__argc, __argv); }
