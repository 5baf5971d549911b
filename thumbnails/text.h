// What the readers of text formats share: lines, fields, numbers and element symbols.

#ifndef THUMBNAILS_TEXT_H_
#define THUMBNAILS_TEXT_H_

#include <optional>
#include <string_view>
#include <vector>

namespace text {

// The lines of a file one after the other, without their ends (LF or CR LF).
class Lines {
 public:
  explicit Lines(std::string_view file) : rest_(file) {}
  bool Next(std::string_view* line);
  // The next line; throws std::runtime_error at the end of the file.
  std::string_view Required();

 private:
  std::string_view rest_;
};

// Inline, so that a comparison with a literal is a few instructions: readers ask it of every line.
inline bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}
// Whether `line` is an atom record of a PDB or PQR file, ATOM or HETATM.
bool IsAtomRecord(std::string_view line);
// Whether `line` ends the first model of a PDB or PQR file: ENDMDL, or END, which ends each frame
// of a trajectory as VMD writes it.
bool EndsModel(std::string_view line);

std::string_view Trim(std::string_view text);
// The fields of a line that white space separates.
std::vector<std::string_view> Fields(std::string_view line);
// The columns [from, to) of a fixed-column line, as far as the line reaches.
std::string_view Columns(std::string_view line, std::size_t from, std::size_t to);

// The number that `field` holds, surrounding spaces aside; none where it holds anything else.
std::optional<double> Number(std::string_view field);
std::optional<long> Integer(std::string_view field);
// As Number, but throws std::runtime_error where there is none.
double RequiredNumber(std::string_view field);

// The atomic number of an element symbol in any case, with anything after it ("Cl", "CL", "Fe3+",
// "O2-"); 0 where it names no element.
int ElementOfSymbol(std::string_view symbol);
}  // namespace text

#endif  // THUMBNAILS_TEXT_H_
