// Explorer opens a selection of documents through the launcher's class: the open verb's
// DropTarget names it, COM starts the launcher with -Embedding to serve it, and Explorer drops the
// documents of each type on it in one call, however many there are. The documents of every drop
// then go the way of a command line's arguments (launcher/launch.h), as one request.

#ifndef LAUNCHER_SELECTION_H_
#define LAUNCHER_SELECTION_H_

#include <set>
#include <string>
#include <vector>

// Why a drop was refused. Each drop is taken or refused on its own: one caller's drop never
// spoils another's.
enum class Refusal {
  kNotAFile,     // An item has no path in the file system (an item of a zip folder, a phone).
  kTooLarge,     // More documents, or more bytes, than a drop may bring.
  kUnreadable,   // Neither format the launcher reads, or a malformed block.
  kOutOfMemory,  // Memory ran out while the drop was taken.
};

struct Selection {
  // The paths of the items of every drop taken, drop after drop, each drop in its own order.
  std::vector<std::wstring> documents;
  // Why the other drops were refused, each reason once.
  std::set<Refusal> refused;
};

// Whether COM started the launcher to serve its class: with the single argument -Embedding (or
// /Embedding).
bool StartedToServeSelection(int argc, const wchar_t* const* argv);

// Serves the launcher's class while any caller may still drop (each activation gets a drop target
// of its own, waited for 30 seconds for its drop, and half a second for a further activation once
// let go of; activations are taken for 30 seconds) and returns what the drops brought once COM is
// shut down. A class that cannot be served is thrown as std::runtime_error without a box: Explorer
// tells the user that it could not open the documents. Memory that runs out once the service is
// over throws std::bad_alloc.
Selection ReceiveSelection();

// Tells the user in one message box which drops of `selection` were refused and why, then throws
// the first reason as std::runtime_error; nothing when none was.
void ReportRefusedDrops(const Selection& selection);

#endif  // LAUNCHER_SELECTION_H_
