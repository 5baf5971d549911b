// Prints the text of the message box whose caption is the first argument, waiting up to 30
// seconds for it to appear. Exits with 1 when no such box appeared.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: box_text CAPTION\n", stderr);
    return 2;
  }
  for (int tries = 0; tries < 300; ++tries) {
    if (HWND box = FindWindowA(nullptr, argv[1])) {
      char text[1024] = {};
      // The static control that holds a message box's text has the id 0xFFFF.
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      std::fputs(text, stdout);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
