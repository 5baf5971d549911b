// libFuzzer target for the thumbnails' readers and what they tell of each atom, given whatever lies
// in a folder as Explorer gives it: what comes back must be atoms to draw, and the preview's facts
// lines of text.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "thumbnails/meaning.h"
#include "thumbnails/picture.h"
#include "thumbnails/preview_facts.h"
#include "thumbnails/structure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Structure structure =
      ReadStructure(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const Atom& atom : structure.atoms) {
    if (!std::isfinite(atom.x) || !std::isfinite(atom.y) || !std::isfinite(atom.z) ||
        atom.element < 0 || atom.element > 118 || atom.residue >= structure.residues.size()) {
      __builtin_trap();
    }
  }
  const std::vector<Shown> atoms = AtomsToShow(structure);
  for (const Shown& atom : atoms) {
    if (atom.element < 0 || atom.element > 118 ||
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
