#include "thumbnails/meaning.h"

#include <algorithm>
#include <cmath>
#include <gemmi/elem.hpp>
#include <map>

#include "thumbnails/box.h"
#include "thumbnails/residues.h"
#include "thumbnails/text.h"

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What is known of a residue: its kind, the element of an ion, and the atoms of its backbone
// (their indices; kNone where it lacks them) that join it to the next residue of its chain and to
// the one before, or, of a chain of alpha carbons or beads, that follow one another along it.
struct Facts {
  ResidueKind kind = ResidueKind::kOther;
  int ion = 0;  // The element of a residue that is an ion.
  std::size_t n = kNone, c = kNone, p = kNone, o3 = kNone, trace = kNone;
};

// What Inferred gives for a virtual site, which is no atom.
constexpr int kVirtualSite = -1;

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
char Upper(char c) { return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

bool NamedLike(std::string_view name, std::string_view start) {
  return name.size() >= start.size() && std::equal(start.begin(), start.end(), name.begin(),
                                                   [](char a, char b) { return Upper(b) == a; });
}

// The facts of the residue whose atoms are `atoms[first, end)`, of the kind its name says.
Facts FactsOf(ResidueKind kind, const Residue& residue, const std::vector<Atom>& atoms,
              std::size_t first, std::size_t end) {
  Facts facts;
  facts.kind = kind;
  if (end - first == 1 && facts.kind != ResidueKind::kWater) {
    facts.ion = ElementOfIon(residue.name.view(), atoms[first].name.view());
  }
  bool alpha = false, o5 = false, c5 = false;
  for (std::size_t i = first; i < end; ++i) {
    const std::string_view name = atoms[i].name.view();
    facts.n = name == "N" ? i : facts.n;
    facts.c = name == "C" ? i : facts.c;
    facts.p = name == "P" ? i : facts.p;
    facts.o3 = name == "O3'" || name == "O3*" ? i : facts.o3;
    facts.trace = name == "CA" || name == "BB" ? i : facts.trace;
    alpha = alpha || name == "CA";
    o5 = o5 || name == "O5'" || name == "O5*";
    c5 = c5 || name == "C5'" || name == "C5*";
  }
  if (facts.kind == ResidueKind::kOther && !facts.ion) {
    facts.kind = facts.n != kNone && alpha && facts.c != kNone ? ResidueKind::kAminoAcid
                 : facts.p != kNone && o5 && c5                ? ResidueKind::kNucleotide
                                                               : ResidueKind::kOther;
  }
  return facts;
}

bool IsPolymer(const Facts& facts) {
  return !facts.ion &&
         (facts.kind == ResidueKind::kAminoAcid || facts.kind == ResidueKind::kNucleotide);
}

// Whether the backbone goes on from residue `a` to `b`, whose atoms lie at `at`: false where the
// atoms that would be bonded are too far apart for a bond (or alpha carbons or beads farther
// apart than along a chain), true where they are bonded or either residue lacks them.
bool Continues(const Facts& a, const Facts& b, const std::vector<Vector>& at) {
  if (a.kind != b.kind) {
    return false;
  }
  const bool amino = a.kind == ResidueKind::kAminoAcid;
  const bool bonded = amino ? a.c != kNone && b.n != kNone : a.o3 != kNone && b.p != kNone;
  const bool traced = amino && a.trace != kNone && b.trace != kNone;
  if (!bonded && !traced) {
    return true;
  }
  constexpr double kLongestBond = 2.5, kLongestStep = 4.5;
  const Vector d =
      bonded ? at[amino ? b.n : b.p] - at[amino ? a.c : a.o3] : at[b.trace] - at[a.trace];
  const double longest = bonded ? kLongestBond : kLongestStep;
  return Dot(d, d) <= longest * longest;
}

// Whether residue `b` begins another chain than the polymer residue `a` before it, the file
// telling its chains by neither identifier nor segment.
bool Breaks(const Residue& a, const Facts& a_facts, const Residue& b, const Facts& b_facts,
            bool ter_between, const std::vector<Vector>& at) {
  if (ter_between || (a.number && b.number && *b.number < *a.number)) {
    return true;
  }
  const bool jumps = a.number && b.number && *b.number > *a.number + 1;
  return !jumps && !Continues(a_facts, b_facts, at);
}

// The chain of each polymer residue (-1 for the others), numbered from 0 in the file's order: by
// identifier, else segment, else where the polymer breaks. A chain of one residue is none: an
// amino acid or nucleotide on its own is a ligand.
std::vector<int> Chains(const Structure& structure, const std::vector<Facts>& facts,
                        const std::vector<Vector>& at) {
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
      breaks += Breaks(residues[before], facts[before], residues[r], facts[r], ter, at);
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

// Whether the particles of `structure` are a coarse-grained model's beads (AtomsToShow). Each
// particle of an even sample is taken for the distance to its nearest neighbour among the 16
// listed before it and after it: a file lists the atoms bonded to an atom close to it.
bool CoarseGrained(const Structure& structure) {
  constexpr std::size_t kSample = 1001, kAround = 16;
  constexpr double kFewestApart = 2.5;
  const std::vector<Atom>& atoms = structure.atoms;
  const bool named =
      std::any_of(structure.residues.begin(), structure.residues.end(),
                  [](const Residue& residue) { return !residue.name.view().empty(); });
  if (!named || atoms.size() < 2) {
    return false;
  }
  std::vector<double> nearest;
  const std::size_t sample = std::min(atoms.size(), kSample);
  for (std::size_t s = 0; s < sample; ++s) {
    const std::size_t i = s * atoms.size() / sample;
    double squared = INFINITY;
    for (std::size_t j = i - std::min(i, kAround); j < std::min(atoms.size(), i + kAround + 1);
         ++j) {
      const double dx = atoms[j].x - atoms[i].x, dy = atoms[j].y - atoms[i].y,
                   dz = atoms[j].z - atoms[i].z;
      squared = j == i ? squared : std::min(squared, dx * dx + dy * dy + dz * dz);
    }
    nearest.push_back(squared);
  }
  const auto middle = nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2);
  std::nth_element(nearest.begin(), middle, nearest.end());
  return *middle >= kFewestApart * kFewestApart;
}

// The molecule of each atom, with `at` made whole across the box of `structure`.
std::vector<int> Rejoined(const Structure& structure, bool coarse, const std::vector<Facts>& facts,
                          const std::vector<int>& elements, std::vector<Vector>* at) {
  constexpr double kLongestBond = 2.0, kLongestBeadBond = 6.0;
  std::vector<char> bonds(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    bonds[i] = coarse || (elements[i] != 1 && elements[i] != kVirtualSite);
  }
  return Rejoin(
      Lattice(*structure.box), structure, bonds,
      [&](std::size_t r) {
        return !coarse                                          ? kLongestBond
               : IsPolymer(facts[r]) && IsPolymer(facts[r - 1]) ? kLongestBeadBond
                                                                : 0;
      },
      at);
}

}  // namespace

std::vector<Shown> AtomsToShow(const Structure& structure) {
  const std::vector<Atom>& atoms = structure.atoms;
  const bool coarse = CoarseGrained(structure);
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
      kind = coarse ? KindOfCoarseResidue(name) : KindOfResidue(name);
    }
    facts[r] = FactsOf(kind, structure.residues[r], atoms, first, end);
  }
  std::vector<int> elements(atoms.size());
  std::vector<Vector> at(atoms.size());
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    const Atom& atom = atoms[i];
    elements[i] = atom.element || coarse
                      ? atom.element
                      : Inferred(atom.name.view(), structure.residues[atom.residue].name.view(),
                                 facts[atom.residue]);
    at[i] = {atom.x, atom.y, atom.z};
  }
  const std::vector<int> molecules =
      structure.box ? Rejoined(structure, coarse, facts, elements, &at) : std::vector<int>();
  const std::vector<int> chains = Chains(structure, facts, at);

  std::vector<Shown> shown;
  std::vector<int> molecule;
  shown.reserve(atoms.size());
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    if (elements[i] == kVirtualSite) {
      continue;
    }
    const std::size_t r = atoms[i].residue;
    const int element = elements[i];
    shown.push_back({static_cast<float>(at[i].x), static_cast<float>(at[i].y),
                     static_cast<float>(at[i].z), element, PartOf(facts[r], chains[r]), chains[r],
                     coarse ? kBeadRadius
                            : gemmi::vdw_radius(static_cast<gemmi::El>(
                                  element >= 1 && element <= 118 ? element : 0))});
    if (structure.box) {
      molecule.push_back(molecules[i]);
    }
  }
  // Water and bulk ions are hidden where anything else is shown.
  const auto solvent = [](const Shown& atom) {
    return atom.part == Part::kWater || atom.part == Part::kIon;
  };
  if (!std::all_of(shown.begin(), shown.end(), solvent)) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (!solvent(shown[i])) {
        shown[kept] = shown[i];
        if (structure.box) {
          molecule[kept] = molecule[i];
        }
        ++kept;
      }
    }
    shown.resize(kept);
    molecule.resize(structure.box ? kept : 0);
  }
  if (structure.box) {
    Gather(Lattice(*structure.box), molecule, &shown);
  }
  return shown;
}
