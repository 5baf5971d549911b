// The readers of the formats that gemmi does not read, each from its own definition.

#include <algorithm>
#include <stdexcept>
#include <string>

#include "thumbnails/structure.h"
#include "thumbnails/text.h"

namespace {

using text::Columns;
using text::Fields;
using text::Lines;
using text::RequiredNumber;
using text::StartsWith;

// An atom count from the file itself, which may lie: room is made for no more atoms than its
// remaining bytes could hold at `least_bytes` a line.
long Count(std::string_view field, std::size_t bytes, std::size_t least_bytes, Atoms* atoms) {
  const std::optional<long> count = text::Integer(field);
  if (!count || *count < 0) {
    throw std::runtime_error("no atom count");
  }
  atoms->reserve(std::min(static_cast<std::size_t>(*count), bytes / least_bytes));
  return *count;
}

// One atom of a V3000 atom block: "index type x y z ...", after "M  V30 ".
Atom V3000Atom(std::string_view entry) {
  const std::vector<std::string_view> fields = Fields(entry);
  if (fields.size() < 5) {
    throw std::runtime_error("a short V3000 atom");
  }
  // A list of elements ("[N,O]") or a pseudo-atom names no one element.
  return {RequiredNumber(fields[2]), RequiredNumber(fields[3]), RequiredNumber(fields[4]),
          text::ElementOfSymbol(fields[1].front() == '[' ? "" : fields[1])};
}

Atoms ReadV3000(Lines* lines) {
  constexpr std::string_view kEntry = "M  V30 ";
  Atoms atoms;
  bool in_atoms = false;
  std::string entry;
  for (std::string_view line = lines->Required(); !StartsWith(line, "M  END");
       line = lines->Required()) {
    if (!StartsWith(line, kEntry)) {
      continue;
    }
    // A line ending in a hyphen goes on in the next one.
    entry += line.substr(kEntry.size());
    if (!entry.empty() && entry.back() == '-') {
      entry.pop_back();
      continue;
    }
    const std::string_view trimmed = text::Trim(entry);
    if (trimmed == "BEGIN ATOM") {
      in_atoms = true;
    } else if (trimmed == "END ATOM") {
      return atoms;
    } else if (in_atoms) {
      atoms.push_back(V3000Atom(trimmed));
    }
    entry.clear();
  }
  throw std::runtime_error("no V3000 atom block");
}

}  // namespace

Atoms ReadPqr(std::string_view file) {
  Atoms atoms;
  Lines lines(file);
  for (std::string_view line; lines.Next(&line) && !text::EndsModel(line);) {
    if (!text::IsAtomRecord(line)) {
      continue;
    }
    // Record, serial, name, residue, [chain,] residue number, x, y, z, charge, radius, and, as
    // some programs add, the element. The chain is optional: the coordinates are counted from
    // the end.
    std::vector<std::string_view> fields = Fields(line);
    std::string_view element;
    if (!fields.empty() && !text::Number(fields.back())) {
      element = fields.back();
      fields.pop_back();
    }
    if (fields.size() < 10) {
      throw std::runtime_error("a short PQR record");
    }
    const std::size_t x = fields.size() - 5;
    atoms.push_back({RequiredNumber(fields[x]), RequiredNumber(fields[x + 1]),
                     RequiredNumber(fields[x + 2]),
                     element.empty() ? text::ElementOfName(fields[2], fields[3])
                                     : text::ElementOfSymbol(element)});
  }
  return atoms;
}

Atoms ReadGro(std::string_view file) {
  // A title, the atom count, and a line per atom: residue number and name, atom name and number
  // in fields of 5 columns, then x, y and z in nanometres, in fields as wide as the distance
  // between their decimal points (8 columns, "%8.3f", unless written more precisely).
  constexpr std::size_t kCoordinates = 20;
  Atoms atoms;
  Lines lines(file);
  lines.Required();
  const long count = Count(lines.Required(), file.size(), 45, &atoms);
  for (long i = 0; i < count; ++i) {
    const std::string_view line = lines.Required();
    const std::size_t first = line.find('.', kCoordinates);
    const std::size_t second = first == std::string_view::npos ? first : line.find('.', first + 1);
    if (second == std::string_view::npos) {
      throw std::runtime_error("a GRO atom without coordinates");
    }
    const std::size_t width = second - first;
    const auto coordinate = [&](std::size_t axis) {
      return 10 * RequiredNumber(Columns(line, kCoordinates + axis * width,
                                         kCoordinates + (axis + 1) * width));
    };
    atoms.push_back({coordinate(0), coordinate(1), coordinate(2),
                     text::ElementOfName(Columns(line, 10, 15), Columns(line, 5, 10))});
  }
  return atoms;
}

Atoms ReadXyz(std::string_view file) {
  // The atom count, a comment, and a line per atom: its element (a symbol, or an atomic number)
  // and x, y and z. Further frames follow.
  Atoms atoms;
  Lines lines(file);
  const long count = Count(lines.Required(), file.size(), 8, &atoms);
  lines.Required();
  for (long i = 0; i < count; ++i) {
    const std::vector<std::string_view> fields = Fields(lines.Required());
    if (fields.size() < 4) {
      throw std::runtime_error("a short XYZ atom");
    }
    const std::optional<long> number = text::Integer(fields[0]);
    atoms.push_back({RequiredNumber(fields[1]), RequiredNumber(fields[2]),
                     RequiredNumber(fields[3]),
                     number ? static_cast<int>(std::clamp(*number, 0L, 118L))
                            : text::ElementOfSymbol(fields[0])});
  }
  return atoms;
}

Atoms ReadMol(std::string_view file) {
  // Three lines of header and the counts line, whose version says how the atoms follow: V2000,
  // a line per atom of x, y and z in 10 columns each and the symbol in columns 32 to 34; V3000,
  // an atom block. An SD file is such records one after the other.
  Lines lines(file);
  for (int i = 0; i < 3; ++i) {
    lines.Required();
  }
  const std::string_view counts = lines.Required();
  if (counts.find("V3000") != std::string_view::npos) {
    return ReadV3000(&lines);
  }
  Atoms atoms;
  const long count = Count(Columns(counts, 0, 3), file.size(), 34, &atoms);
  for (long i = 0; i < count; ++i) {
    const std::string_view line = lines.Required();
    atoms.push_back({RequiredNumber(Columns(line, 0, 10)), RequiredNumber(Columns(line, 10, 20)),
                     RequiredNumber(Columns(line, 20, 30)),
                     text::ElementOfSymbol(Columns(line, 31, 34))});
  }
  return atoms;
}
