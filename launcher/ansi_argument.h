// Windows gives a program its arguments in UTF-16; the launch request carries them in the ANSI
// code page. The runtime's narrow arguments are converted with best-fit mapping, which turns a
// character the code page lacks into a look-alike: β-sheet.pdb into ß-sheet.pdb, another file;
// a fullwidth quote into a real one, which can split an argument in two. So the Windows launcher
// takes the wide arguments and converts each one itself, exactly.

#ifndef LAUNCHER_ANSI_ARGUMENT_H_
#define LAUNCHER_ANSI_ARGUMENT_H_

#include <string>

// `argument` in the ANSI code page: its exact conversion where there is one. Otherwise, for the
// path of an existing file or folder, the same path with each component that the code page cannot
// hold replaced by its short (8.3) name, provided the file name keeps its whole extension (the
// main application takes a document's type from it). Any other argument is refused: shown to the
// user in a message box, then thrown as std::runtime_error.
std::string AnsiArgument(const std::wstring& argument);

#endif  // LAUNCHER_ANSI_ARGUMENT_H_
