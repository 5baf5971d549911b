// mmCIF, CIF and the ligand dictionaries in CIF, parsed by gemmi, the library that structural
// biology relies on for them.

#include <algorithm>
#include <array>
#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>
#include <gemmi/unitcell.hpp>
#include <optional>
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

// The value of a row's first column in `columns` that it gives (neither "?" nor "."), out of its
// quotes, or none.
std::string_view Value(cif::Table::Row& row, std::initializer_list<std::size_t> columns) {
  for (const std::size_t column : columns) {
    if (row.has2(column)) {
      const std::string_view value = row[column];
      const bool quoted = value.size() >= 2 && (value[0] == '\'' || value[0] == '"');
      return quoted ? value.substr(1, value.size() - 2) : value;
    }
  }
  return {};
}

// The columns of an _atom_site loop, in the order of the table below.
enum Column : std::size_t {
  kX,
  kY,
  kZ,
  kSymbol,
  kLabel,
  kModel,
  kAuthorAtom,
  kAtom,
  kAuthorResidue,
  kResidueName,
  kAuthorChain,
  kChain,
  kAuthorNumber,
  kNumber,
  kInsertion
};

// The atoms of a block's _atom_site loop, read straight from the document: gemmi's structure
// needs the label fields of the PDB's own files, which other programs do not write. Cartesian
// coordinates (mmCIF, Cartn_x), or fractional ones (a small molecule's, fract_x) turned Cartesian
// through the cell. A file with fractional names and no cell holds Cartesian numbers under them,
// as Open Babel writes it: they are taken as they stand. Of several models, the first. The
// author's names and chains where the file gives them, as a PDB file of the entry has them (the
// label chains give each ligand a chain of its own).
Structure AtomSites(cif::Block& block) {
  for (const char* prefix : {"_atom_site.", "_atom_site_"}) {
    for (const char* kind : {"Cartn_", "fract_"}) {
      const std::string k = kind;
      cif::Table table =
          block.find(prefix, {k + "x", k + "y", k + "z", "?type_symbol", "?label",
                              "?pdbx_PDB_model_num", "?auth_atom_id", "?label_atom_id",
                              "?auth_comp_id", "?label_comp_id", "?auth_asym_id", "?label_asym_id",
                              "?auth_seq_id", "?label_seq_id", "?pdbx_PDB_ins_code"});
      if (!table.ok()) {
        continue;
      }
      const std::optional<gemmi::UnitCell> cell =
          k == "fract_" ? Cell(block) : std::optional<gemmi::UnitCell>();
      Structure structure;
      structure.atoms.reserve(table.length());
      const std::string* first_model = nullptr;
      // The values that tell residues apart, the last atom's: its residue, chain, number and
      // insertion code.
      std::string_view residue[4];
      for (cif::Table::Row row : table) {
        if (row.has2(kModel)) {
          if (!first_model) {
            first_model = &row[kModel];
          } else if (row[kModel] != *first_model) {
            break;
          }
        }
        gemmi::Position position(cif::as_number(row[kX]), cif::as_number(row[kY]),
                                 cif::as_number(row[kZ]));
        if (cell) {
          position = cell->orthogonalize(gemmi::Fractional(position));
        }
        const std::string_view next[] = {
            Value(row, {kAuthorResidue, kResidueName}), Value(row, {kAuthorChain, kChain}),
            Value(row, {kAuthorNumber, kNumber}), Value(row, {kInsertion})};
        if (structure.residues.empty() || !std::equal(next, next + 4, residue)) {
          structure.residues.push_back({next[0], text::Integer(next[2]), next[1], {}, false});
          std::copy(next, next + 4, residue);
        }
        // A small molecule's atoms are named by their labels.
        structure.atoms.push_back(
            {position.x, position.y, position.z, text::ElementOfSymbol(Value(row, {kSymbol})),
             Value(row, {kAuthorAtom, kAtom, kLabel}), structure.residues.size() - 1});
      }
      return structure;
    }
  }
  return {};
}

// The atoms of a ligand dictionary's _chem_comp_atom loop, as the PDB's chemical components and
// the restraint dictionaries of refinement programs hold them: the one set of coordinates of a
// restraint dictionary, else the ideal ones, which are complete and have the hydrogens, else
// those of a model. An atom without coordinates ("?") is left out.
Structure ComponentAtoms(cif::Block& block) {
  const char* const sets[][3] = {
      {"x", "y", "z"},
      {"pdbx_model_Cartn_x_ideal", "pdbx_model_Cartn_y_ideal", "pdbx_model_Cartn_z_ideal"},
      {"model_Cartn_x", "model_Cartn_y", "model_Cartn_z"}};
  for (const auto& set : sets) {
    cif::Table table = block.find("_chem_comp_atom.",
                                  {set[0], set[1], set[2], "?type_symbol", "?atom_id", "?comp_id"});
    Structure structure;
    for (cif::Table::Row row : table) {
      if (!row.has2(0) || !row.has2(1) || !row.has2(2)) {
        continue;
      }
      if (structure.residues.empty()) {
        structure.residues.push_back({Value(row, {5}), std::nullopt, {}, {}, false});
      }
      structure.atoms.push_back({cif::as_number(row[0]), cif::as_number(row[1]),
                                 cif::as_number(row[2]), text::ElementOfSymbol(Value(row, {3})),
                                 Value(row, {4}), 0});
    }
    if (!structure.atoms.empty()) {
      return structure;
    }
  }
  return {};
}

// The values of `tag` that a block gives, out of their quotes, joined by commas: one for most
// tags, more where a loop holds them (the methods of a structure solved by two).
std::string Values(cif::Block& block, const char* tag) {
  std::string values;
  for (const std::string& value : block.find_values(tag)) {
    if (!cif::is_null(value)) {
      values += (values.empty() ? "" : ", ") + cif::as_string(value);
    }
  }
  return values;
}

// What a block says of the file: its title (an entry's, a ligand dictionary's name, a small
// molecule's), the experimental method, and the resolution (of a refinement, an electron
// microscopy map, or else of the data).
void Describe(cif::Block& block, Structure* structure) {
  for (const char* tag : {"_struct.title", "_chem_comp.name", "_chemical_name_common",
                          "_chemical.name_common", "_chemical_name_systematic"}) {
    structure->title = structure->title.empty() ? Values(block, tag) : structure->title;
  }
  structure->method = Values(block, "_exptl.method");
  for (const char* tag :
       {"_refine.ls_d_res_high", "_em_3d_reconstruction.resolution", "_reflns.d_resolution_high"}) {
    cif::Column column = block.find_values(tag);
    const double resolution = column.length() > 0 ? cif::as_number(column[0]) : NAN;
    if (!structure->resolution && resolution > 0) {
      structure->resolution = resolution;
    }
  }
}

}  // namespace

Structure ReadCif(std::string_view file) {
  cif::Document document = cif::read_memory(file.data(), file.size(), "");
  for (cif::Block& block : document.blocks) {
    for (Structure (*atoms)(cif::Block&) : {AtomSites, ComponentAtoms}) {
      Structure structure = atoms(block);
      if (!structure.atoms.empty()) {
        Describe(block, &structure);
        return structure;
      }
    }
  }
  return {};
}
