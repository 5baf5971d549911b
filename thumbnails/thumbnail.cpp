#include "thumbnails/thumbnail.h"

#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/structure.h"
#include "thumbnails/view.h"

std::optional<Picture> Thumbnail(std::string_view file, int longer_side) {
  const std::vector<Shown> atoms = AtomsToShow(ReadStructure(file));
  if (atoms.empty()) {
    return std::nullopt;
  }
  return DrawAtoms(atoms, ViewOf(atoms), longer_side);
}
