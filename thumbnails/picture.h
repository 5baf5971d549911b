// The picture of a structure: its atoms as shaded spheres, seen in a view, on a transparent
// background. Where there is a polymer, each of its chains has a colour of its own, over all its
// atoms, and a ligand's carbon one that no chain has, so that chains are told apart and a bound
// drug stands out; every other atom, and every atom of a structure without a polymer, has its
// element's colour.

#ifndef THUMBNAILS_PICTURE_H_
#define THUMBNAILS_PICTURE_H_

#include <cstdint>
#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/view.h"

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

// The picture of `atoms` (at least one) seen in `view`, in their own aspect ratio, the longer side
// `longer_side` pixels (at least 1), filled but for a margin that keeps every sphere whole. The
// same atoms give the same bits.
Picture DrawAtoms(const std::vector<Shown>& atoms, const View& view, int longer_side);

#endif  // THUMBNAILS_PICTURE_H_
