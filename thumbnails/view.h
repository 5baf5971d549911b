// How a structure is seen: from which side, and about which centre. The view follows the
// structure's own shape, so that however a file turns a structure, it shows the same way.

#ifndef THUMBNAILS_VIEW_H_
#define THUMBNAILS_VIEW_H_

#include <optional>
#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/vector.h"

struct View {
  Vector centre;
  // A right-handed frame (a mirror image would show the other enantiomer): x to the right, y up,
  // and z towards the viewer.
  Frame axes;
  // Where a membrane is seen side-on with a protein in it: the depth of the protein's middle
  // (along z, from the centre), nearer than which the membrane's lipids would hide it.
  std::optional<double> lipids_cut;
};

// The view of `atoms` (at least one), about their centre. Where lipids form a membrane (a layer
// some 40 Å across or more, clearly thinner than wide: more than one lipid molecule can make), its
// normal is up and the view is along the layer, the widest spread of the polymer in it (else of
// the membrane) from left to right. Elsewhere the view is along the axis of least spread, the
// largest from left to right. Where two spreads are nearly equal, and the axes of a structure as
// good as any turn of them, the third moments choose the turn (towards where the atoms reach
// farther): the view is the frame that scores best for both, so that it changes little where
// the structure changes little, and turns with it.
View ViewOf(const std::vector<Shown>& atoms);

// Leaves out of `atoms` what would hide the rest in `view`: the lipids of a membrane nearer than
// the middle of the protein in it, which is seen as if the membrane were cut open there.
void LeaveOutWhatHides(const View& view, std::vector<Shown>* atoms);

#endif  // THUMBNAILS_VIEW_H_
