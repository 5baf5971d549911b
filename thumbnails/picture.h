// The thumbnail of a structure: its atoms as shaded spheres in their elements' colours, seen
// along the structure's axis of least spread, on a transparent background.

#ifndef THUMBNAILS_PICTURE_H_
#define THUMBNAILS_PICTURE_H_

#include <cstdint>
#include <vector>

#include "thumbnails/structure.h"

struct Picture {
  int width = 0;
  int height = 0;
  // Rows from the top, each pixel 0xAARRGGBB (in memory B, G, R, A), its colour not multiplied
  // by its alpha.
  std::vector<std::uint32_t> pixels;
};

// Beyond this many atoms an even sample of them is drawn: the picture does not tell more. (A
// sparser one where the spheres would cover the picture some 64 times over: a large structure
// at a large size, or many atoms in one place.)
inline constexpr std::size_t kMostAtomsDrawn = 200000;

// The picture of `atoms` (at least one) in their own aspect ratio, the longer side `longer_side`
// pixels (at least 1), filled but for a margin that keeps every sphere whole. The same atoms
// give the same bits.
Picture DrawAtoms(const Atoms& atoms, int longer_side);

#endif  // THUMBNAILS_PICTURE_H_
