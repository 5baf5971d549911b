// PDB, mmCIF and CIF, read with gemmi, the library that structural biology relies on for them.

#include <algorithm>
#include <array>
#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>
#include <gemmi/pdb.hpp>
#include <gemmi/unitcell.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "thumbnails/structure.h"
#include "thumbnails/text.h"

namespace {

namespace cif = gemmi::cif;

// The cell of a small-molecule CIF, where it gives all six parameters.
std::optional<gemmi::UnitCell> Cell(cif::Block& block) {
  std::array<double, 6> parameters;
  const char* const names[] = {"a", "b", "c", "alpha", "beta", "gamma"};
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string* value =
        block.find_value(std::string(i < 3 ? "_cell_length_" : "_cell_angle_") + names[i]);
    parameters[i] = value ? cif::as_number(*value) : NAN;
    if (!(parameters[i] > 0)) {
      return std::nullopt;
    }
  }
  return gemmi::UnitCell(parameters);
}

// The atoms of a block's _atom_site loop, read straight from the document: gemmi's structure
// needs the label fields of the PDB's own files, which other programs do not write. Cartesian
// coordinates (mmCIF, Cartn_x), or fractional ones (a small molecule's, fract_x) turned Cartesian
// through the cell. A file with fractional names and no cell holds Cartesian numbers under them,
// as Open Babel writes it: they are taken as they stand. Of several models, the first.
Atoms AtomSites(cif::Block& block) {
  for (const char* prefix : {"_atom_site.", "_atom_site_"}) {
    for (const char* kind : {"Cartn_", "fract_"}) {
      const std::string k = kind;
      cif::Table table = block.find(
          prefix, {k + "x", k + "y", k + "z", "?type_symbol", "?label", "?pdbx_PDB_model_num"});
      if (!table.ok()) {
        continue;
      }
      const std::optional<gemmi::UnitCell> cell =
          k == "fract_" ? Cell(block) : std::optional<gemmi::UnitCell>();
      Atoms atoms;
      const std::string* first_model = nullptr;
      for (cif::Table::Row row : table) {
        if (row.has2(5)) {
          if (!first_model) {
            first_model = &row[5];
          } else if (row[5] != *first_model) {
            break;
          }
        }
        gemmi::Position position(cif::as_number(row[0]), cif::as_number(row[1]),
                                 cif::as_number(row[2]));
        if (cell) {
          position = cell->orthogonalize(gemmi::Fractional(position));
        }
        // A symbol where there is one; else the label, named as a small molecule's atoms are.
        const int element = row.has2(3)   ? text::ElementOfSymbol(cif::as_string(row[3]))
                            : row.has2(4) ? text::ElementOfName(cif::as_string(row[4]), "")
                                          : 0;
        atoms.push_back({position.x, position.y, position.z, element});
      }
      return atoms;
    }
  }
  return {};
}

// The atoms of `records`, PDB atom records, read by gemmi.
void ReadRecords(const std::string& records, Atoms* atoms) {
  const gemmi::Structure structure =
      gemmi::read_pdb_from_memory(records.data(), records.size(), "");
  for (const gemmi::Chain& chain : structure.first_model().chains) {
    for (const gemmi::Residue& residue : chain.residues) {
      for (const gemmi::Atom& atom : residue.atoms) {
        atoms->push_back({atom.pos.x, atom.pos.y, atom.pos.z, atom.element.atomic_number()});
      }
    }
  }
}

}  // namespace

Atoms ReadPdb(std::string_view file) {
  // gemmi is given the atom records of the first model only, which is all a picture needs, each
  // made exactly PDB's 80 columns, none of them a NUL: gemmi 0.5.7 reads a record's fixed columns
  // beyond the end of a short line, and ends an overlong line at its first NUL or byte above 127,
  // taking the rest for another record (a LINK record, which it then reads beyond its end, as
  // the fuzzer found); and it refuses a file whose models repeat a number. A few thousand records
  // at a time, in the same memory, which a large file would otherwise take twice over.
  constexpr std::size_t kColumns = 80, kRecords = 4096;
  Atoms atoms;
  atoms.reserve(file.size() / kColumns);
  std::string records;
  text::Lines lines(file);
  for (std::string_view line; lines.Next(&line) && !text::EndsModel(line);) {
    if (text::IsAtomRecord(line)) {
      const std::size_t start = records.size();
      records.append(line.substr(0, kColumns)).resize(start + kColumns, ' ');
      std::replace(records.begin() + static_cast<std::ptrdiff_t>(start), records.end(), '\0', ' ');
      records += '\n';
    }
    if (records.size() >= kRecords * (kColumns + 1)) {
      ReadRecords(records, &atoms);
      records.clear();
    }
  }
  if (!records.empty()) {
    ReadRecords(records, &atoms);
  }
  return atoms;
}

Atoms ReadCif(std::string_view file) {
  cif::Document document = cif::read_memory(file.data(), file.size(), "");
  for (cif::Block& block : document.blocks) {
    Atoms atoms = AtomSites(block);
    if (!atoms.empty()) {
      return atoms;
    }
  }
  return {};
}
