// libFuzzer target for the thumbnails' readers and what they tell of each atom, given whatever lies
// in a folder as Explorer gives it: what comes back must be atoms to draw, and the preview's facts
// lines of text; and where gemmi's document reads a CIF, the reading of its atom sites from the
// tokens must give the same atoms.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>

#include "thumbnails/meaning.h"
#include "thumbnails/picture.h"
#include "thumbnails/preview_facts.h"
#include "thumbnails/structure.h"

namespace {

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }
bool Same(Name a, Name b) { return a.view() == b.view(); }

void ReadsCifAsTheDocumentDoes(std::string_view file) {
  std::optional<Structure> whole;
  try {
    whole = ReadCifDocument(file);
  } catch (const std::exception&) {
    return;
  }
  Structure fast;
  try {
    fast = ReadCif(file);
  } catch (const std::exception&) {
    __builtin_trap();
  }
  if (fast.atoms.size() != whole->atoms.size()) {
    __builtin_trap();
  }
  for (std::size_t i = 0; i < fast.atoms.size(); ++i) {
    const Atom& a = fast.atoms[i];
    const Atom& b = whole->atoms[i];
    const Residue& r = fast.residues[a.residue];
    const Residue& q = whole->residues[b.residue];
    if (!Same(a.x, b.x) || !Same(a.y, b.y) || !Same(a.z, b.z) || a.element != b.element ||
        !Same(a.name, b.name) || a.residue != b.residue || !Same(r.name, q.name) ||
        r.number != q.number || !Same(r.chain, q.chain)) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  ReadsCifAsTheDocumentDoes(file);
  const Structure structure = ReadStructure(file);
  for (const Atom& atom : structure.atoms) {
    if (!std::isfinite(atom.x) || !std::isfinite(atom.y) || !std::isfinite(atom.z) ||
        atom.element < 0 || atom.element > 118 || atom.residue >= structure.residues.size()) {
      __builtin_trap();
    }
  }
  const std::vector<Shown> atoms = AtomsToShow(structure);
  for (const Shown& atom : atoms) {
    if (atom.element < 0 || atom.element > 118 || !(atom.radius > 0) || !std::isfinite(atom.x) ||
        (atom.part == Part::kPolymer) != (atom.chain >= 0)) {
      __builtin_trap();
    }
  }
  if (!atoms.empty() && DrawAtoms(atoms, ViewOf(atoms), 24).pixels.empty()) {
    __builtin_trap();
  }
  const Facts facts = FactsOf(structure, atoms);
  for (const std::string* line : {&facts.title, &facts.summary}) {
    if (std::any_of(line->begin(), line->end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      __builtin_trap();
    }
  }
  return 0;
}
