#include "thumbnails/thumbnail.h"

#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/structure.h"
#include "thumbnails/view.h"

std::optional<Picture> Thumbnail(std::string_view file, int longer_side) {
  std::vector<Shown> atoms = AtomsToShow(ReadStructure(file));
  if (atoms.empty()) {
    return std::nullopt;
  }
  const View view = ViewOf(atoms);
  LeaveOutWhatHides(view, &atoms);
  return DrawAtoms(atoms, view, longer_side);
}
