// mmCIF, CIF and the ligand dictionaries in CIF, parsed by gemmi, the library that structural
// biology relies on for them; the atom sites of mmCIF, which are most of a large file, read from
// the tokens themselves (thumbnails/cif_syntax.h).

#include <algorithm>
#include <array>
#include <cmath>
#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>
#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "thumbnails/cif_syntax.h"
#include "thumbnails/crystal.h"
#include "thumbnails/structure.h"
#include "thumbnails/text.h"

namespace {

namespace cif = gemmi::cif;

// The cell of a small-molecule CIF, where it gives all six parameters; throws where they make no
// cell.
std::optional<gemmi::UnitCell> Cell(cif::Block& block) {
  std::array<double, 6> parameters;
  const char* const names[] = {"a", "b", "c", "alpha", "beta", "gamma"};
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string* value =
        block.find_value(std::string(i < 3 ? "_cell_length_" : "_cell_angle_") + names[i]);
    parameters[i] = value ? CifNumber(*value) : NAN;
    if (!(parameters[i] > 0)) {
      return std::nullopt;
    }
  }
  const gemmi::UnitCell cell(parameters);
  if (!(cell.volume > 0) || !std::isfinite(cell.volume)) {
    throw std::runtime_error("the cell's parameters make no cell");
  }
  return cell;
}

bool Given(std::string_view value) { return value != "?" && value != "."; }

// A value out of its quotes.
std::string_view Unquoted(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value[0] == '\'' || value[0] == '"');
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// The columns of an _atom_site loop that atoms are read from, in this order, after its prefix
// ("_atom_site." or "_atom_site_") and, for the coordinates, "Cartn_" or "fract_".
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
  kInsertion,
  kColumns
};
const char* const kSiteTags[kColumns] = {"x",
                                         "y",
                                         "z",
                                         "type_symbol",
                                         "label",
                                         "pdbx_PDB_model_num",
                                         "auth_atom_id",
                                         "label_atom_id",
                                         "auth_comp_id",
                                         "label_comp_id",
                                         "auth_asym_id",
                                         "label_asym_id",
                                         "auth_seq_id",
                                         "label_seq_id",
                                         "pdbx_PDB_ins_code"};

// The value of a row's first column in `columns` that it gives (neither "?" nor "."), out of its
// quotes, or none.
std::string_view Value(const std::string_view* row, std::initializer_list<Column> columns) {
  for (const Column column : columns) {
    if (Given(row[column])) {
      return Unquoted(row[column]);
    }
  }
  return {};
}

// The atoms of the rows of an _atom_site loop, one after the other, of the first model only.
// The author's names and chains where the file gives them, as a PDB file of the entry has them
// (the label chains give each ligand a chain of its own). Coordinates as they stand: Cartesian
// (mmCIF, Cartn_x), or fractional ones of a file without a cell, which are Cartesian numbers
// under the wrong name, as Open Babel writes them.
class AtomSites {
 public:
  // Takes the atom of `row`, its values in the order of Column; false once the first model has
  // ended, with the atoms before.
  bool Add(const std::string_view* row) {
    if (Given(row[kModel])) {
      if (first_model_.empty()) {
        first_model_ = row[kModel];
      } else if (row[kModel] != first_model_) {
        return false;
      }
    }
    const std::string_view next[] = {
        Value(row, {kAuthorResidue, kResidueName}), Value(row, {kAuthorChain, kChain}),
        Value(row, {kAuthorNumber, kNumber}), Value(row, {kInsertion})};
    if (structure.residues.empty() || !std::equal(next, next + 4, residue_)) {
      structure.residues.push_back({next[0], text::Integer(next[2]), next[1], {}, false});
      std::copy(next, next + 4, residue_);
    }
    const std::string_view symbol = Value(row, {kSymbol});
    if (symbol != symbol_) {
      symbol_ = symbol;
      element_ = text::ElementOfSymbol(symbol);
    }
    // A small molecule's atoms are named by their labels.
    structure.atoms.push_back({CifNumber(row[kX]), CifNumber(row[kY]), CifNumber(row[kZ]), element_,
                               Value(row, {kAuthorAtom, kAtom, kLabel}),
                               structure.residues.size() - 1});
    return true;
  }

  Structure structure;

 private:
  std::string_view first_model_;
  std::string_view residue_[4];  // The last atom's residue, chain, number and insertion code.
  std::string_view symbol_;
  int element_ = 0;
};

// An operation of the space group as the CIF writes it, "-x+1/2,y,z" (gemmi's parser, which
// multiplies the numbers it reads: it is given only short ones); none where it is no
// crystallographic operation.
std::optional<gemmi::Op> Operation(const std::string& triplet) {
  std::size_t digits = 0;
  for (const char c : triplet) {
    digits = c >= '0' && c <= '9' ? digits + 1 : 0;
    if (digits > 3 || triplet.size() > 80) {
      return std::nullopt;
    }
  }
  gemmi::Op op;
  try {
    op = gemmi::parse_triplet(triplet);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  constexpr int kOne = gemmi::Op::DEN;
  for (const auto& row : op.rot) {
    for (const int element : row) {
      if (element != 0 && element != kOne && element != -kOne) {
        return std::nullopt;
      }
    }
  }
  return std::abs(op.det_rot()) == kOne * kOne * kOne ? std::optional<gemmi::Op>(op) : std::nullopt;
}

// The space group's operations: those the file lists, else those its Hermann-Mauguin name or
// number gives, else none (the identity alone). A name or number alone does not say which of
// two origins the coordinates refer to, where the group has two: then both, the file's first.
std::vector<std::vector<gemmi::Op>> Settings(cif::Block& block, const gemmi::UnitCell& cell) {
  for (const char* tag : {"_space_group_symop_operation_xyz", "_space_group_symop.operation_xyz",
                          "_symmetry_equiv_pos_as_xyz", "_symmetry_equiv.pos_as_xyz"}) {
    std::vector<gemmi::Op> operations;
    for (const std::string& value : block.find_values(tag)) {
      if (const std::optional<gemmi::Op> op = Operation(cif::as_string(value))) {
        operations.push_back(*op);
      } else {
        operations.clear();
        break;
      }
    }
    if (!operations.empty()) {
      return {operations};
    }
  }
  const gemmi::SpaceGroup* group = nullptr;
  for (const char* tag : {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M"}) {
    if (const std::string* name = block.find_value(tag); name && !group) {
      group = gemmi::find_spacegroup_by_name(cif::as_string(*name), cell.alpha, cell.gamma);
    }
  }
  for (const char* tag : {"_space_group_IT_number", "_symmetry_Int_Tables_number"}) {
    if (const std::string* number = block.find_value(tag); number && !group) {
      const std::optional<long> n = text::Integer(cif::as_string(*number));
      group = n && *n > 0 && *n <= 230 ? gemmi::find_spacegroup_by_number(static_cast<int>(*n))
                                       : nullptr;
    }
  }
  if (!group) {
    return {{}};
  }
  std::vector<std::vector<gemmi::Op>> settings;
  for (const gemmi::SpaceGroup* setting :
       {group, group->ext == '1' || group->ext == '2'
                   ? gemmi::find_spacegroup_by_name(std::string(group->hm) + ":" +
                                                    (group->ext == '1' ? "2" : "1"))
                   : nullptr}) {
    if (setting) {
      settings.emplace_back();
      for (const gemmi::Op& op : setting->operations()) {
        settings.back().push_back(op);
      }
    }
  }
  return settings;
}

// The atoms of a crystal, from its asymmetric unit (`prefix` "_atom_site_" or "_atom_site."),
// its cell and its symmetry (thumbnails/crystal.h). Dummy atoms are left out.
Structure CrystalOf(cif::Block& block, const std::string& prefix, const gemmi::UnitCell& cell) {
  enum { kFractX, kFractY, kFractZ, kType, kSiteLabel, kOccupancy, kAssembly, kGroup, kFlag };
  const std::vector<std::vector<gemmi::Op>> settings = Settings(block, cell);
  Crystal crystal{cell, settings.front(), {}};
  for (cif::Table::Row row :
       block.find(prefix, {"fract_x", "fract_y", "fract_z", "?type_symbol", "?label", "?occupancy",
                           "?disorder_assembly", "?disorder_group", "?calc_flag"})) {
    if (row.has2(kFlag) && cif::as_string(row[kFlag]) == "dum") {
      continue;
    }
    CrystalSite site;
    site.where = gemmi::Fractional(CifNumber(row[kFractX]), CifNumber(row[kFractY]),
                                   CifNumber(row[kFractZ]));
    if (!std::isfinite(site.where.x) || !std::isfinite(site.where.y) ||
        !std::isfinite(site.where.z)) {
      throw std::runtime_error("a site's coordinates are no numbers");
    }
    const std::string label = row.has2(kSiteLabel) ? cif::as_string(row[kSiteLabel]) : "";
    site.label = Name(label);
    // The label begins with the element where the file does not state it.
    site.element = text::ElementOfSymbol(row.has2(kType) ? cif::as_string(row[kType]) : label);
    if (row.has2(kOccupancy)) {
      site.occupancy = CifNumber(row[kOccupancy]);
      site.occupancy = std::isfinite(site.occupancy) ? site.occupancy : 1;
    }
    if (row.has2(kAssembly)) {
      site.disorder_assembly = cif::as_string(row[kAssembly]);
    }
    if (row.has2(kGroup)) {
      site.disorder_group = static_cast<int>(text::Integer(row[kGroup]).value_or(0));
    }
    crystal.sites.push_back(std::move(site));
  }
  // Of two origins, the one that does not make atoms overlap.
  if (settings.size() > 1 && Overlaps(crystal) > 0) {
    Crystal other = crystal;
    other.operations = settings.back();
    if (Overlaps(other) < Overlaps(crystal)) {
      crystal = std::move(other);
    }
  }
  Structure structure;
  structure.atoms = CrystalAtoms(crystal);
  structure.residues.push_back({});
  return structure;
}

// The atoms of a block's _atom_site loop, read through gemmi's document: gemmi's structure needs
// the label fields of the PDB's own files, which other programs do not write. A crystal's
// fractional coordinates with its cell are a crystal's.
Structure AtomSitesOf(cif::Block& block) {
  for (const std::string prefix : {"_atom_site.", "_atom_site_"}) {
    for (const std::string kind : {"Cartn_", "fract_"}) {
      std::vector<std::string> tags;
      for (std::size_t column = 0; column < kColumns; ++column) {
        tags.push_back(column < kSymbol ? kind + kSiteTags[column]
                                        : std::string("?") + kSiteTags[column]);
      }
      cif::Table table = block.find(prefix, tags);
      if (!table.ok()) {
        continue;
      }
      if (kind == "fract_") {
        if (const std::optional<gemmi::UnitCell> cell = Cell(block)) {
          return CrystalOf(block, prefix, *cell);
        }
      }
      AtomSites sites;
      std::string_view row_values[kColumns];
      for (cif::Table::Row row : table) {
        for (std::size_t column = 0; column < kColumns; ++column) {
          row_values[column] = row.has(column) ? std::string_view(row[column]) : "?";
        }
        if (!sites.Add(row_values)) {
          break;
        }
      }
      return std::move(sites.structure);
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
      const auto given = [&](std::size_t column) {
        return row.has2(column) ? Unquoted(row[column]) : std::string_view();
      };
      if (structure.residues.empty()) {
        structure.residues.push_back({given(5), std::nullopt, {}, {}, false});
      }
      structure.atoms.push_back({CifNumber(row[0]), CifNumber(row[1]), CifNumber(row[2]),
                                 text::ElementOfSymbol(given(3)), given(4), 0});
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

// The atoms of the first block that has some; with `taken`, the rows of the blocks' _atom_site
// loops of Cartesian coordinates read already, by block.
Structure FirstAtoms(cif::Document& document,
                     std::vector<std::pair<std::size_t, AtomSites>>* taken) {
  for (std::size_t b = 0; b < document.blocks.size(); ++b) {
    const auto sites = std::find_if(taken->begin(), taken->end(),
                                    [&](const auto& block) { return block.first == b; });
    Structure structure = sites != taken->end() ? std::move(sites->second.structure)
                                                : AtomSitesOf(document.blocks[b]);
    if (structure.atoms.empty()) {
      structure = ComponentAtoms(document.blocks[b]);
    }
    if (!structure.atoms.empty()) {
      Describe(document.blocks[b], &structure);
      return structure;
    }
  }
  return {};
}

}  // namespace

Structure ReadCif(std::string_view file) {
  std::vector<std::string> names;
  for (std::size_t column = 0; column < kColumns; ++column) {
    names.push_back(std::string("_atom_site.") + (column < kSymbol ? "Cartn_" : "") +
                    kSiteTags[column]);
  }
  const std::vector<std::string_view> tags(names.begin(), names.end());
  std::vector<std::pair<std::size_t, AtomSites>> taken;
  const std::string rest = TakeLoops(file, tags, 3, {"_atom_site_anisotrop."},
                                     [&](std::size_t block, const std::string_view* row) {
                                       if (taken.empty() || taken.back().first != block) {
                                         taken.emplace_back(block, AtomSites());
                                       }
                                       return taken.back().second.Add(row);
                                     });
  cif::Document document = cif::read_memory(rest.data(), rest.size(), "");
  return FirstAtoms(document, &taken);
}

Structure ReadCifDocument(std::string_view file) {
  cif::Document document = cif::read_memory(file.data(), file.size(), "");
  std::vector<std::pair<std::size_t, AtomSites>> none;
  return FirstAtoms(document, &none);
}
