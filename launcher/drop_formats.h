// The two formats in which a drop brings its items: the shell's array of ID lists
// (CFSTR_SHELLIDLIST) and the classic list of file names (CF_HDROP). Any process of the user may
// activate the launcher's class and drop a block of its own making, so every offset and length in
// a block is checked against the block's size before it is read.

#ifndef LAUNCHER_DROP_FORMATS_H_
#define LAUNCHER_DROP_FORMATS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An ITEMIDLIST: items of a 16-bit little-endian size (its own two bytes included) and data, ended
// by a size of zero.
using IdList = std::string;

// The absolute ID list of each item of a CFSTR_SHELLIDLIST block (a CIDA: the count, then the
// offsets of the folder's list and of each item's list relative to it), in the block's order.
// Empty when an offset or a list lies outside the block, a list has no end inside it, or the lists
// together would exceed what the launcher holds for a selection.
std::optional<std::vector<IdList>> ReadIdListArray(std::string_view block);

// The file names of a CF_HDROP block (a DROPFILES header, then the names, each ended by a NUL,
// and one more NUL), in the block's order. Names in the ANSI code page are made UTF-16 by
// `from_ansi`. Empty when the names lie outside the block or have no end inside it.
std::optional<std::vector<std::u16string>> ReadDropFiles(
    std::string_view block, std::u16string (*from_ansi)(std::string_view));

#endif  // LAUNCHER_DROP_FORMATS_H_
