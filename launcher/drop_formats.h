// The two formats in which a drop brings its items: the shell's array of ID lists
// (CFSTR_SHELLIDLIST) and the classic list of file names (CF_HDROP). Any process of the user may
// activate the launcher's class and drop a block of its own making, so every offset and length in
// a block is checked against the block's size before it is read.

#ifndef LAUNCHER_DROP_FORMATS_H_
#define LAUNCHER_DROP_FORMATS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// An ITEMIDLIST: items of a 16-bit little-endian size (its own two bytes included) and data, ended
// by a size of zero.
using IdList = std::string;

// What the launcher takes of one drop at most: 100,000 documents, far more than anyone selects,
// and blocks, and ID lists made of them, of at most 256 MiB, the most a request to the main
// application may take (Explorer's lists for 1,000 documents take about 300 KB).
inline constexpr std::size_t kMaxDroppedItems = 100000;
inline constexpr std::size_t kMaxDropBytes = std::size_t{1} << 28;

enum class DropRead {
  kRead,
  kMalformed,  // An offset or a list outside the block, or a list or name without an end in it.
  kTooLarge,   // More items, or more bytes of ID lists, than the launcher takes.
};

// The absolute ID list of each item of a CFSTR_SHELLIDLIST block (a CIDA: the count, then the
// offsets of the folder's list and of each item's list relative to it), in the block's order,
// into `lists`. The count is checked before anything is allocated.
DropRead ReadIdListArray(std::string_view block, std::vector<IdList>* lists);

// The file names of a CF_HDROP block (a DROPFILES header, then the names, each ended by a NUL,
// and one more NUL), in the block's order, into `names`. Names in the ANSI code page are made
// UTF-16 by `from_ansi`.
DropRead ReadDropFiles(std::string_view block, std::u16string (*from_ansi)(std::string_view),
                       std::vector<std::u16string>* names);

#endif  // LAUNCHER_DROP_FORMATS_H_
