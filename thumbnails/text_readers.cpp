// The readers of the formats of fixed columns and of fields, each from its own definition: PDB,
// PQR, GRO, XYZ, and MOL and SD.

#include <algorithm>
#include <cmath>
#include <gemmi/unitcell.hpp>
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
long Count(std::string_view field, std::size_t bytes, std::size_t least_bytes,
           Structure* structure) {
  const std::optional<long> count = text::Integer(field);
  if (!count || *count < 0) {
    throw std::runtime_error("no atom count");
  }
  structure->atoms.reserve(std::min(static_cast<std::size_t>(*count), bytes / least_bytes));
  return *count;
}

// A structure of formats that know no residues: one, unnamed, for every atom.
Structure Molecule() { return {{}, {Residue()}}; }

// Whether the next atom begins a residue: at the first, after a TER record, and where `key`, the
// columns or fields that tell the file's residues apart, differs from the atom before's.
bool BeginsResidue(const Structure& structure, bool after_ter, std::string_view key,
                   std::string_view* last_key) {
  const bool begins = structure.residues.empty() || after_ter || key != *last_key;
  *last_key = key;
  return begins;
}

// The span of `line` from the start of `first` to the end of `last`, fields of it.
std::string_view Span(std::string_view first, std::string_view last) {
  return {first.data(), static_cast<std::size_t>(last.data() + last.size() - first.data())};
}

// One atom of a V3000 atom block: "index type x y z ...", after "M  V30 ".
Atom V3000Atom(std::string_view entry) {
  const std::vector<std::string_view> fields = Fields(entry);
  if (fields.size() < 5) {
    throw std::runtime_error("a short V3000 atom");
  }
  // A list of elements ("[N,O]") or a pseudo-atom names no one element.
  return {RequiredNumber(fields[2]),
          RequiredNumber(fields[3]),
          RequiredNumber(fields[4]),
          text::ElementOfSymbol(fields[1].front() == '[' ? "" : fields[1]),
          {},
          0};
}

Structure ReadV3000(Lines* lines) {
  constexpr std::string_view kEntry = "M  V30 ";
  Structure structure = Molecule();
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
      return structure;
    } else if (in_atoms) {
      structure.atoms.push_back(V3000Atom(trimmed));
    }
    entry.clear();
  }
  throw std::runtime_error("no V3000 atom block");
}

// `box`, where a simulation could have it: none where it is 10 Å across or less between two faces
// (a cube of 1 Å, as NMR and cryo-EM entries write CRYST1; zeros, as GRO writes no box), reaches
// beyond a million Ångström, or is not of Box's form.
std::optional<Box> SimulationBox(const Box& box) {
  constexpr double kNarrowest = 10, kFarthest = 1e6;
  const double heights[] = {box.a[0], box.b[1], box.c[2]};
  const double others[] = {box.b[0], box.c[0], box.c[1]};
  const bool sound = box.a[1] == 0 && box.a[2] == 0 && box.b[2] == 0 &&
                     std::all_of(std::begin(heights), std::end(heights),
                                 [&](double x) { return x > kNarrowest && x <= kFarthest; }) &&
                     std::all_of(std::begin(others), std::end(others),
                                 [&](double x) { return std::abs(x) <= kFarthest; });
  return sound ? std::optional<Box>(box) : std::nullopt;
}

// The box of a CRYST1 record in space group P 1: a simulation's. The cell of any other space group
// is a crystal's, whose contents its symmetry makes; no box.
std::optional<Box> BoxOfCryst1(std::string_view line) {
  std::string group(Columns(line, 55, 66));
  group.erase(std::remove(group.begin(), group.end(), ' '), group.end());
  // a, b and c in columns 7-33, 9 each; alpha, beta and gamma in 34-54, 7 each, none of them 0 or
  // 180 degrees, which no box has and gemmi's cell refuses.
  double parameters[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const std::size_t from = i < 3 ? 6 + 9 * i : 33 + 7 * (i - 3);
    const std::optional<double> number = text::Number(Columns(line, from, from + (i < 3 ? 9 : 7)));
    if (group != "P1" || !number || (i >= 3 && !(*number > 0 && *number < 180))) {
      return std::nullopt;
    }
    parameters[i] = *number;
  }
  // The cell's edges, the columns of its orthogonalisation, which is the PDB's: a along x, b in
  // the xy plane.
  const gemmi::UnitCell cell(parameters[0], parameters[1], parameters[2], parameters[3],
                             parameters[4], parameters[5]);
  const gemmi::Mat33& m = cell.orth.mat;
  return SimulationBox(
      {{m[0][0], m[1][0], m[2][0]}, {m[0][1], m[1][1], m[2][1]}, {m[0][2], m[1][2], m[2][2]}});
}

// The box of a GRO file's last line: x, y and z of a diagonal box, or the nine numbers of any,
// v1(x) v2(y) v3(z) v1(y) v1(z) v2(x) v2(z) v3(x) v3(y), in nanometres.
std::optional<Box> BoxOfGro(std::string_view line) {
  double v[9] = {};
  const std::vector<std::string_view> fields = Fields(line);
  if (fields.size() != 3 && fields.size() != 9) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::optional<double> number = text::Number(fields[i]);
    if (!number) {
      return std::nullopt;
    }
    v[i] = 10 * *number;
  }
  return SimulationBox({{v[0], v[3], v[4]}, {v[5], v[1], v[6]}, {v[7], v[8], v[2]}});
}

// What a PDB or PQR header record says of the file: TITLE's text, its lines joined (columns
// 11-80); where there is none, a program's name of its molecule, a COMPND line of free text (the
// PDB's own hold a list of MOL_ID: and the like); EXPDTA's method; and REMARK 2's resolution,
// "RESOLUTION.    2.10 ANGSTROMS." ("NOT APPLICABLE." for other methods).
void ReadHeader(std::string_view line, Structure* structure) {
  const auto text = [&] { return text::Trim(Columns(line, 10, 80)); };
  const auto append = [&](std::string* to) {
    *to += (to->empty() ? "" : " ") + std::string(text());
  };
  if (StartsWith(line, "TITLE ")) {
    append(&structure->title);
  } else if (StartsWith(line, "COMPND    ") && structure->title.empty() &&
             text().find(':') == std::string_view::npos) {
    append(&structure->title);
  } else if (StartsWith(line, "EXPDTA")) {
    append(&structure->method);
  } else if (StartsWith(line, "REMARK   2 RESOLUTION.")) {
    const std::vector<std::string_view> fields = Fields(line.substr(22));
    structure->resolution = fields.empty() ? std::nullopt : text::Number(fields.front());
  }
}

}  // namespace

Structure ReadPdb(std::string_view file) {
  // ATOM and HETATM records: the atom's name in columns 13-16, the residue's in 18-21 (CHARMM's
  // take four: TIP3, POPC), the chain in 22, the residue number in 23-26 and its insertion code
  // in 27, x, y and z in 31-54, the segment in 73-76 and the element in 77-78. Files in the layout
  // of 1993 hold the entry's code and the line's serial number in 73-80 instead: no letters,
  // where an element would be. The first model ends with ENDMDL, a frame of a trajectory with END.
  Structure structure;
  structure.atoms.reserve(static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n')));
  bool after_ter = false;
  std::string_view last_key, last_segment;
  Lines lines(file);
  for (std::string_view line; lines.Next(&line) && !text::EndsModel(line);) {
    if (StartsWith(line, "TER")) {
      after_ter = !structure.atoms.empty();
      continue;
    }
    if (StartsWith(line, "CRYST1")) {
      structure.box = BoxOfCryst1(line);
      continue;
    }
    if (!text::IsAtomRecord(line)) {
      ReadHeader(line, &structure);
      continue;
    }
    if (line.size() < 54) {
      throw std::runtime_error("a short atom record");
    }
    const std::string_view segment = Columns(line, 72, 76);
    if (BeginsResidue(structure, after_ter || segment != last_segment, Columns(line, 17, 27),
                      &last_key)) {
      structure.residues.push_back(
          {text::Trim(Columns(line, 17, 21)), text::Integer(Columns(line, 22, 26)),
           text::Trim(Columns(line, 21, 22)), text::Trim(segment), after_ter});
    }
    last_segment = segment;
    after_ter = false;
    structure.atoms.push_back(
        {RequiredNumber(Columns(line, 30, 38)), RequiredNumber(Columns(line, 38, 46)),
         RequiredNumber(Columns(line, 46, 54)), text::ElementOfSymbol(Columns(line, 76, 78)),
         text::Trim(Columns(line, 12, 16)), structure.residues.size() - 1});
  }
  return structure;
}

Structure ReadPqr(std::string_view file) {
  Structure structure;
  bool after_ter = false;
  std::string_view last_key;
  Lines lines(file);
  for (std::string_view line; lines.Next(&line) && !text::EndsModel(line);) {
    if (StartsWith(line, "TER")) {
      after_ter = !structure.atoms.empty();
      continue;
    }
    if (!text::IsAtomRecord(line)) {
      ReadHeader(line, &structure);
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
    if (BeginsResidue(structure, after_ter, Span(fields[3], fields[x - 1]), &last_key)) {
      structure.residues.push_back({fields[3],
                                    text::Integer(fields[x - 1]),
                                    x > 5 ? fields[4] : std::string_view(),
                                    {},
                                    after_ter});
    }
    after_ter = false;
    structure.atoms.push_back({RequiredNumber(fields[x]), RequiredNumber(fields[x + 1]),
                               RequiredNumber(fields[x + 2]), text::ElementOfSymbol(element),
                               fields[2], structure.residues.size() - 1});
  }
  return structure;
}

Structure ReadGro(std::string_view file) {
  // A title, the atom count, a line per atom: residue number and name, atom name and number in
  // fields of 5 columns, then x, y and z in nanometres, in fields as wide as the distance between
  // their decimal points (8 columns, "%8.3f", unless written more precisely); and the box.
  constexpr std::size_t kCoordinates = 20;
  Structure structure;
  std::string_view last_key;
  Lines lines(file);
  structure.title = text::Trim(lines.Required());
  const long count = Count(lines.Required(), file.size(), 45, &structure);
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
    if (BeginsResidue(structure, false, Columns(line, 0, 10), &last_key)) {
      structure.residues.push_back(
          {text::Trim(Columns(line, 5, 10)), text::Integer(Columns(line, 0, 5)), {}, {}, false});
    }
    structure.atoms.push_back({coordinate(0), coordinate(1), coordinate(2), 0,
                               text::Trim(Columns(line, 10, 15)), structure.residues.size() - 1});
  }
  // GROMACS requires v1(y), v1(z) and v2(z) to be zero: any box it writes is of Box's form.
  if (std::string_view line; lines.Next(&line)) {
    structure.box = BoxOfGro(line);
  }
  return structure;
}

Structure ReadXyz(std::string_view file) {
  // The atom count, a comment, and a line per atom: its element (a symbol, or an atomic number)
  // and x, y and z. Further frames follow.
  Structure structure = Molecule();
  Lines lines(file);
  const long count = Count(lines.Required(), file.size(), 8, &structure);
  structure.title = text::Trim(lines.Required());
  for (long i = 0; i < count; ++i) {
    const std::vector<std::string_view> fields = Fields(lines.Required());
    if (fields.size() < 4) {
      throw std::runtime_error("a short XYZ atom");
    }
    const std::optional<long> number = text::Integer(fields[0]);
    structure.atoms.push_back({RequiredNumber(fields[1]),
                               RequiredNumber(fields[2]),
                               RequiredNumber(fields[3]),
                               number ? static_cast<int>(std::clamp(*number, 0L, 118L))
                                      : text::ElementOfSymbol(fields[0]),
                               {},
                               0});
  }
  return structure;
}

Structure ReadMol(std::string_view file) {
  // Three lines of header and the counts line, whose version says how the atoms follow: V2000,
  // a line per atom of x, y and z in 10 columns each and the symbol in columns 32 to 34; V3000,
  // an atom block. An SD file is such records one after the other.
  Lines lines(file);
  const std::string_view title = text::Trim(lines.Required());
  lines.Required();
  lines.Required();
  const std::string_view counts = lines.Required();
  const bool v3000 = counts.find("V3000") != std::string_view::npos;
  Structure structure = v3000 ? ReadV3000(&lines) : Molecule();
  structure.title = title;
  if (v3000) {
    return structure;
  }
  const long count = Count(Columns(counts, 0, 3), file.size(), 34, &structure);
  for (long i = 0; i < count; ++i) {
    const std::string_view line = lines.Required();
    structure.atoms.push_back({RequiredNumber(Columns(line, 0, 10)),
                               RequiredNumber(Columns(line, 10, 20)),
                               RequiredNumber(Columns(line, 20, 30)),
                               text::ElementOfSymbol(Columns(line, 31, 34)),
                               {},
                               0});
  }
  return structure;
}
