// libFuzzer target for the thumbnails' readers, as Explorer hands them whatever lies in a folder:
// the bytes go through the choice of format and its reader, and what comes back must be atoms
// that the picture can be drawn from.

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
  if (!atoms.empty()) {
    const Picture picture = DrawAtoms(atoms, 24);
    if (std::max(picture.width, picture.height) != 24 ||
        picture.pixels.size() != static_cast<std::size_t>(picture.width * picture.height)) {
      __builtin_trap();
    }
  }
  return 0;
}
