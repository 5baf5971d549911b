#include "thumbnails/structure.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "thumbnails/text.h"

namespace {

using text::Lines;
using text::StartsWith;

// The formats, each told by what its first lines must hold.
enum class Format { kNone, kCif, kMol, kXyz, kGro, kPdb, kPqr };

bool IsCif(std::string_view file) {
  Lines lines(file);
  for (std::string_view line; lines.Next(&line);) {
    line = text::Trim(line);
    if (!line.empty() && line.front() != '#') {
      return StartsWith(line, "data_") || StartsWith(line, "DATA_");
    }
  }
  return false;
}

// An atom line of an XYZ file: an element and three numbers.
bool IsXyzAtom(std::string_view line) {
  const std::vector<std::string_view> fields = text::Fields(line);
  return fields.size() >= 4 && text::Number(fields[1]) && text::Number(fields[2]) &&
         text::Number(fields[3]);
}

// PDB and PQR records alike begin with ATOM or HETATM, and a PQR file may well keep to PDB's
// columns up to the coordinates. After them a PDB record has its occupancy and temperature factor,
// each in 6 columns with 2 decimals (or nothing), where a PQR record has a charge and a radius in
// fields of its own widths, which gemmi would take for the other columns (the segment among them).
// The first record tells.
bool InPdbColumns(std::string_view record) {
  const auto decimals = [&](std::size_t from) {
    return text::Number(text::Columns(record, from, from + 6)) && record[from + 3] == '.';
  };
  return text::Number(text::Columns(record, 30, 38)) &&
         text::Number(text::Columns(record, 38, 46)) &&
         text::Number(text::Columns(record, 46, 54)) &&
         (text::Trim(text::Columns(record, 54, 66)).empty() ||
          (record.size() >= 66 && decimals(54) && decimals(60)));
}

Format AtomRecords(std::string_view file) {
  Lines lines(file);
  for (std::string_view line; lines.Next(&line);) {
    if (text::IsAtomRecord(line)) {
      return InPdbColumns(line) ? Format::kPdb : Format::kPqr;
    }
  }
  return Format::kNone;
}

Format FormatOf(std::string_view file) {
  if (IsCif(file)) {
    return Format::kCif;
  }
  std::string_view first[4];
  Lines lines(file);
  for (std::string_view& line : first) {
    lines.Next(&line);
  }
  if (first[3].find("V2000") != std::string_view::npos ||
      first[3].find("V3000") != std::string_view::npos) {
    return Format::kMol;
  }
  if (text::Integer(first[0]) && IsXyzAtom(first[2])) {
    return Format::kXyz;
  }
  if (text::Integer(first[1])) {
    return Format::kGro;
  }
  return AtomRecords(file);
}

Structure Read(Format format, std::string_view file) {
  switch (format) {
    case Format::kCif:
      return ReadCif(file);
    case Format::kMol:
      return ReadMol(file);
    case Format::kXyz:
      return ReadXyz(file);
    case Format::kGro:
      return ReadGro(file);
    case Format::kPdb:
      return ReadPdb(file);
    case Format::kPqr:
      return ReadPqr(file);
    case Format::kNone:
      break;
  }
  return {};
}

// Whether the first model of `file`, the beginning of a longer one, lies whole within it. A reader
// of a format that counts its atoms finds out for itself, and no CIF can tell.
bool HoldsFirstModel(Format format, std::string_view file) {
  if (format == Format::kCif) {
    return false;
  }
  if (format != Format::kPdb && format != Format::kPqr) {
    return true;
  }
  Lines lines(file);
  for (std::string_view line; lines.Next(&line);) {
    if (text::EndsModel(line)) {
      return true;
    }
  }
  return false;
}

}  // namespace

Structure ReadStructure(std::string_view file) {
  const bool cut = file.size() > kMaxFileBytes;
  if (cut) {
    // Whole lines only: a line cut short may still read as a shorter number.
    const std::size_t end = file.rfind('\n', kMaxFileBytes - 1);
    file = file.substr(0, end == std::string_view::npos ? 0 : end + 1);
  }
  const Format format = FormatOf(file);
  if (cut && !HoldsFirstModel(format, file)) {
    return {};
  }
  Structure structure;
  try {
    structure = Read(format, file);
  } catch (const std::exception&) {
    return {};
  }
  // No structure reaches a tenth of a millimetre: a coordinate beyond is a broken file's.
  constexpr double kFarthest = 1e6;
  const bool sound =
      std::all_of(structure.atoms.begin(), structure.atoms.end(), [](const Atom& atom) {
        return std::abs(atom.x) <= kFarthest && std::abs(atom.y) <= kFarthest &&
               std::abs(atom.z) <= kFarthest;
      });
  if (!sound) {
    return {};
  }
  return structure;
}
