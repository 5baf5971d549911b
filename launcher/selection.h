// Explorer opens a selection of documents through the launcher's class: the open verb's
// DropTarget names it, COM starts the launcher with -Embedding to serve it, and Explorer drops the
// documents of each type on it in one call, however many there are. The documents of every drop
// then go the way of a command line's arguments (launcher/launch.h), as one request.

#ifndef LAUNCHER_SELECTION_H_
#define LAUNCHER_SELECTION_H_

#include <optional>
#include <string>
#include <vector>

// Whether COM started the launcher to serve its class: with the single argument -Embedding (or
// /Embedding).
bool StartedToServeSelection(int argc, const wchar_t* const* argv);

// Serves the launcher's class while any caller may still drop (each activation gets a drop target
// of its own, waited for 30 seconds for its drop, and half a second for a further activation once
// let go of) and returns the paths of the dropped items, drop after drop, each drop in its own
// order, once COM is shut down. Empty when nothing was dropped. A selection that cannot be read, or
// that holds an item that is no file or folder, is refused: shown to the user in a message box,
// then thrown as std::runtime_error. A class that cannot be served is thrown without a box:
// Explorer tells the user that it could not open the documents.
std::optional<std::vector<std::wstring>> ReceiveSelection();

#endif  // LAUNCHER_SELECTION_H_
