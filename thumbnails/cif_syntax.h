// CIF's syntax as gemmi's parser reads it, for the loops that hold a value for every atom: gemmi's
// document keeps each value as a string of its own, millions of them for an mmCIF file of a
// quarter of a million atoms, where a picture needs a few columns of them once.

#ifndef THUMBNAILS_CIF_SYNTAX_H_
#define THUMBNAILS_CIF_SYNTAX_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The values of one row of a loop, in the order of the tags asked for: as the file writes them,
// quotes and all, as gemmi's document keeps them, and "?" for a tag that the loop lacks.
using LoopRow = std::function<bool(std::size_t block, const std::string_view* values)>;

// Reads the tokens of `file` as gemmi's parser does (white space, comments, quoted values, text
// fields between semicolons at the beginning of lines, loops, save frames). Each row of every
// loop of a data block (not of a save frame) whose tags are all of the category of `tags` (such as
// "_atom_site.") and include the first `required` of them (full tags, compared regardless of
// case) goes to `row` with the block's index, counting from 0; `row` returns false to skip the
// rest of that loop. Returns `file` with the values of those loops, and of the loops whose tags
// all begin with one of `skipped`, replaced by a single row of "." each: the tags and everything
// else stand, for gemmi's parser to read and check as before. Throws std::runtime_error where the
// tokens are broken (a quote or text field left open, a loop whose values do not fill its rows),
// as gemmi's parser would.
std::string TakeLoops(std::string_view file, const std::vector<std::string_view>& tags,
                      std::size_t required, const std::vector<std::string_view>& skipped,
                      const LoopRow& row);

// The number that a CIF value is, as gemmi's `cif::as_number` reads it: a standard uncertainty
// in brackets after it ("1.234(5)") is allowed, and a leading plus; NaN for anything else.
double CifNumber(std::string_view value);

#endif  // THUMBNAILS_CIF_SYNTAX_H_
