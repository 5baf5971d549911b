// The picture of a structure: its atoms seen in a view, on a transparent background. A
// macromolecule or a membrane is drawn as an illustration (flat colours, a dark line where the
// surface drops away, darker in clefts), a small molecule or a crystal as shaded spheres. Where
// there is a polymer, each of its chains has a colour of its own, over all its atoms, and a
// ligand's carbon one that no chain has, so that chains are told apart and a bound drug stands
// out; lipids have a membrane's tones; every other atom, and every atom of a structure without a
// polymer, has its element's colour.

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

// How a structure is drawn: an illustration, or shaded spheres.
enum class Style { kIllustration, kSpheres };

// An atom as it is drawn, whatever the view: where it is, its sphere's radius (Ångström) and its
// paint (which names its colour).
struct Ball {
  float x, y, z, radius;
  std::uint32_t paint;
};
struct Model {
  Style style;
  std::vector<Ball> balls;
};

// A picture drawn again and again as the user turns it, as the preview pane does: what does not
// change with the turn, worked out once. The atoms drawn (the same sample, radii and paints as
// DrawAtoms'), in Ångström in the view's frame about the middle of their extent, and how far from
// that middle the farthest sphere reaches.
struct Scene {
  Model model;
  double reach = 0;
};

// The scene of `atoms` (at least one) seen in `view`.
Scene SceneOf(const std::vector<Shown>& atoms, const View& view);

// A turn of the view: the turned view's axes (x to the right, y up, z to the viewer) in the view's
// own frame.
using Turn = Frame;

// The picture of `scene` turned by `turn`, `width` × `height` pixels (each at least 1), opaque
// on `background` (0xRRGGBB), looking as DrawAtoms' does: its middle in the middle, as large as
// fits the picture whole in every turn, so that turning never moves or cuts it. Of every `every`th
// sphere only (an even sample, quicker to draw while it turns).
Picture DrawTurned(const Scene& scene, const Turn& turn, int width, int height,
                   std::uint32_t background, std::size_t every = 1);

#endif  // THUMBNAILS_PICTURE_H_
