// libFuzzer target for the thumbnails' readers, given whatever lies in a folder as Explorer gives
// it: what comes back from the choice of format and its reader must be atoms to draw.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "thumbnails/picture.h"
#include "thumbnails/structure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Atoms atoms = ReadStructure(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const Atom& atom : atoms) {
    if (!std::isfinite(atom.x) || !std::isfinite(atom.y) || !std::isfinite(atom.z) ||
        atom.element < 0 || atom.element > 118) {
      __builtin_trap();
    }
  }
  if (!atoms.empty() && DrawAtoms(atoms, 24).pixels.empty()) {
    __builtin_trap();
  }
  return 0;
}
