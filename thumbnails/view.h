// How a structure is seen: from which side, and about which centre. The view of its picture is its
// own principal axes, so that however a file turns a structure, it shows the same way.

#ifndef THUMBNAILS_VIEW_H_
#define THUMBNAILS_VIEW_H_

#include <array>
#include <vector>

#include "thumbnails/meaning.h"

struct Vector {
  double x = 0, y = 0, z = 0;
};

inline double Dot(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

struct View {
  Vector centre;
  // A right-handed frame (a mirror image would show the other enantiomer): x to the right, y up,
  // and z towards the viewer.
  std::array<Vector, 3> axes;
};

// The view of `atoms` (at least one) along their axis of least spread, the largest spread from
// left to right, about their centre. Each of the first two axes points to where the atoms reach
// farther.
View ViewOf(const std::vector<Shown>& atoms);

#endif  // THUMBNAILS_VIEW_H_
