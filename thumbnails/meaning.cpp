#include "thumbnails/meaning.h"

#include <algorithm>
#include <map>

#include "thumbnails/residues.h"
#include "thumbnails/text.h"

namespace {

// What is known of a residue: its kind, the element of an ion, and the atoms of its backbone
// that join it to the next residue of its chain and to the one before.
struct Facts {
  ResidueKind kind = ResidueKind::kOther;
  int ion = 0;  // The element of a residue that is an ion.
  const Atom* n = nullptr;
  const Atom* c = nullptr;
  const Atom* p = nullptr;
  const Atom* o3 = nullptr;
};

// What Inferred gives for a virtual site, which is no atom.
constexpr int kVirtualSite = -1;

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
char Upper(char c) { return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

bool NamedLike(std::string_view name, std::string_view start) {
  return name.size() >= start.size() && std::equal(start.begin(), start.end(), name.begin(),
                                                   [](char a, char b) { return Upper(b) == a; });
}

// The facts of the residue whose atoms are `atoms`, of the kind its name says.
Facts FactsOf(ResidueKind kind, const Residue& residue, const Atom* atoms, std::size_t count) {
  Facts facts;
  facts.kind = kind;
  if (count == 1 && facts.kind != ResidueKind::kWater) {
    facts.ion = ElementOfIon(residue.name.view(), atoms->name.view());
  }
  bool alpha = false, o5 = false, c5 = false;
  for (const Atom* atom = atoms; atom != atoms + count; ++atom) {
    const std::string_view name = atom->name.view();
    facts.n = name == "N" ? atom : facts.n;
    facts.c = name == "C" ? atom : facts.c;
    facts.p = name == "P" ? atom : facts.p;
    facts.o3 = name == "O3'" || name == "O3*" ? atom : facts.o3;
    alpha = alpha || name == "CA";
    o5 = o5 || name == "O5'" || name == "O5*";
    c5 = c5 || name == "C5'" || name == "C5*";
  }
  if (facts.kind == ResidueKind::kOther && !facts.ion) {
    facts.kind = facts.n && alpha && facts.c ? ResidueKind::kAminoAcid
                 : facts.p && o5 && c5       ? ResidueKind::kNucleotide
                                             : ResidueKind::kOther;
  }
  return facts;
}

bool IsPolymer(const Facts& facts) {
  return !facts.ion &&
         (facts.kind == ResidueKind::kAminoAcid || facts.kind == ResidueKind::kNucleotide);
}

// Whether the backbone goes on from residue `a` to `b`: false where the atoms that would be
// bonded are too far apart for a bond, true where they are bonded or either residue lacks them.
bool Continues(const Facts& a, const Facts& b) {
  if (a.kind != b.kind) {
    return false;
  }
  const Atom* from = a.kind == ResidueKind::kAminoAcid ? a.c : a.o3;
  const Atom* to = a.kind == ResidueKind::kAminoAcid ? b.n : b.p;
  if (!from || !to) {
    return true;
  }
  constexpr double kLongestBond = 2.5;
  const double dx = from->x - to->x, dy = from->y - to->y, dz = from->z - to->z;
  return dx * dx + dy * dy + dz * dz <= kLongestBond * kLongestBond;
}

// Whether residue `b` begins another chain than the polymer residue `a` before it, the file
// telling its chains by neither identifier nor segment.
bool Breaks(const Residue& a, const Facts& a_facts, const Residue& b, const Facts& b_facts,
            bool ter_between) {
  if (ter_between || (a.number && b.number && *b.number < *a.number)) {
    return true;
  }
  const bool jumps = a.number && b.number && *b.number > *a.number + 1;
  return !jumps && !Continues(a_facts, b_facts);
}

// The chain of each polymer residue (-1 for the others), numbered from 0 in the file's order: by
// identifier, else segment, else where the polymer breaks. A chain of one residue is none: an
// amino acid or nucleotide on its own is a ligand.
std::vector<int> Chains(const Structure& structure, const std::vector<Facts>& facts) {
  const std::vector<Residue>& residues = structure.residues;
  std::vector<std::size_t> polymer;
  for (std::size_t r = 0; r < residues.size(); ++r) {
    if (IsPolymer(facts[r])) {
      polymer.push_back(r);
    }
  }
  const auto differ = [&](Name Residue::*field) {
    return std::any_of(polymer.begin(), polymer.end(), [&](std::size_t r) {
      return (residues[r].*field).view() != (residues[polymer.front()].*field).view();
    });
  };
  Name Residue::*const key = differ(&Residue::chain)     ? &Residue::chain
                             : differ(&Residue::segment) ? &Residue::segment
                                                         : nullptr;
  std::vector<int> chain(residues.size(), -1);
  std::map<std::string_view, int> keys;
  int breaks = 0;
  for (std::size_t i = 0; i < polymer.size(); ++i) {
    const std::size_t r = polymer[i];
    if (key) {
      chain[r] =
          keys.try_emplace((residues[r].*key).view(), static_cast<int>(keys.size())).first->second;
      continue;
    }
    if (i > 0) {
      const std::size_t before = polymer[i - 1];
      const bool ter = std::any_of(residues.begin() + static_cast<std::ptrdiff_t>(before) + 1,
                                   residues.begin() + static_cast<std::ptrdiff_t>(r) + 1,
                                   [](const Residue& residue) { return residue.after_ter; });
      breaks += Breaks(residues[before], facts[before], residues[r], facts[r], ter);
    }
    chain[r] = breaks;
  }
  // Chains of one residue let go; the others numbered again in the order they begin.
  std::map<int, int> sizes, numbers;
  for (const int c : chain) {
    sizes[c] += c >= 0;
  }
  for (int& c : chain) {
    c = c < 0 || sizes[c] < 2
            ? -1
            : numbers.try_emplace(c, static_cast<int>(numbers.size())).first->second;
  }
  return chain;
}

// The element of an atom whose file states none, from its name as force fields and the PDB name
// atoms, its residue known: a hydrogen's number may come first ("1HB"); in a residue of a polymer,
// a lipid or water the first letter tells ("CA" is an alpha carbon, "HG1" a hydrogen); two
// letters only where the residue is that ion or a hetero group known to hold that metal, or the
// name says so in its case ("Cl1", as small molecules' labels are written); else halogens (CL,
// BR) and hydrogens as they are named in ligands, and the first letter, or two where it names
// no element.
int Inferred(std::string_view name, std::string_view residue, const Facts& facts) {
  if (facts.ion) {
    return facts.ion;
  }
  while (!name.empty() && name.front() >= '0' && name.front() <= '9') {
    name.remove_prefix(1);
  }
  if (name.empty()) {
    return 0;
  }
  const char first = Upper(name.front());
  switch (facts.kind) {
    case ResidueKind::kWater:  // CHARMM's TIP4P names its M site OM.
      return first == 'O' && !NamedLike(name, "OM") ? 8
             : first == 'H' || first == 'D'         ? 1
                                                    : kVirtualSite;
    case ResidueKind::kAminoAcid:
      if (NamedLike(name, "SE") && name.size() == 2) {
        return 34;  // The selenium of selenomethionine and selenocysteine.
      }
      [[fallthrough]];
    case ResidueKind::kNucleotide:
    case ResidueKind::kLipid:
      return first == 'H' ? 1 : text::ElementOfSymbol(name.substr(0, 1));
    case ResidueKind::kOther:
      break;
  }
  if (NamedLike(name, "LP") || NamedLike(name, "EP")) {
    return kVirtualSite;
  }
  const std::string_view metal = MetalOf(residue);
  if ((!metal.empty() && NamedLike(name, metal)) || (name.size() > 1 && IsLower(name[1]))) {
    if (const int element = text::ElementOfSymbol(name.substr(0, 2))) {
      return element;
    }
  }
  if (NamedLike(name, "CL") || NamedLike(name, "BR")) {
    return text::ElementOfSymbol(name.substr(0, 2));
  }
  // Two letters where the first names no element: MG, ZN, AS.
  const int one = first == 'H' ? 1 : text::ElementOfSymbol(name.substr(0, 1));
  return one ? one : text::ElementOfSymbol(name.substr(0, 2));
}

Part PartOf(const Facts& facts, int chain) {
  if (facts.ion) {
    return IsBulkIon(facts.ion) ? Part::kIon : Part::kLigand;
  }
  switch (facts.kind) {
    case ResidueKind::kWater:
      return Part::kWater;
    case ResidueKind::kLipid:
      return Part::kLipid;
    default:
      return chain >= 0 ? Part::kPolymer : Part::kLigand;
  }
}

}  // namespace

std::vector<Shown> AtomsToShow(const Structure& structure) {
  const std::vector<Atom>& atoms = structure.atoms;
  std::vector<Facts> facts(structure.residues.size());
  // Residues one after the other mostly share their names (a box of water): the tables are asked
  // once for each run of them.
  std::string_view name;
  ResidueKind kind = ResidueKind::kOther;
  for (std::size_t first = 0, end = 0; first < atoms.size(); first = end) {
    const std::size_t r = atoms[first].residue;
    while (end < atoms.size() && atoms[end].residue == r) {
      ++end;
    }
    if (first == 0 || structure.residues[r].name.view() != name) {
      name = structure.residues[r].name.view();
      kind = KindOfResidue(name);
    }
    facts[r] = FactsOf(kind, structure.residues[r], &atoms[first], end - first);
  }
  const std::vector<int> chains = Chains(structure, facts);

  std::vector<Shown> shown;
  shown.reserve(atoms.size());
  for (const Atom& atom : atoms) {
    const Facts& residue = facts[atom.residue];
    const int element =
        atom.element
            ? atom.element
            : Inferred(atom.name.view(), structure.residues[atom.residue].name.view(), residue);
    if (element != kVirtualSite) {
      shown.push_back({static_cast<float>(atom.x), static_cast<float>(atom.y),
                       static_cast<float>(atom.z), element, PartOf(residue, chains[atom.residue]),
                       chains[atom.residue]});
    }
  }
  // Water and bulk ions are hidden where anything else is shown.
  const auto solvent = [](const Shown& atom) {
    return atom.part == Part::kWater || atom.part == Part::kIon;
  };
  if (!std::all_of(shown.begin(), shown.end(), solvent)) {
    shown.erase(std::remove_if(shown.begin(), shown.end(), solvent), shown.end());
  }
  return shown;
}
