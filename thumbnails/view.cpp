#include "thumbnails/view.h"

#include <gemmi/eig3.hpp>

namespace {

Vector Cross(const Vector& a, const Vector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

View ViewOf(const std::vector<Shown>& atoms) {
  View view;
  for (const Shown& atom : atoms) {
    view.centre = {view.centre.x + atom.x, view.centre.y + atom.y, view.centre.z + atom.z};
  }
  const double count = static_cast<double>(atoms.size());
  view.centre = {view.centre.x / count, view.centre.y / count, view.centre.z / count};
  const auto from_centre = [&](const Shown& atom) {
    return Vector{atom.x - view.centre.x, atom.y - view.centre.y, atom.z - view.centre.z};
  };
  gemmi::SMat33<double> spread{0, 0, 0, 0, 0, 0};
  for (const Shown& atom : atoms) {
    const Vector p = from_centre(atom);
    spread.u11 += p.x * p.x;
    spread.u22 += p.y * p.y;
    spread.u33 += p.z * p.z;
    spread.u12 += p.x * p.y;
    spread.u13 += p.x * p.z;
    spread.u23 += p.y * p.z;
  }
  double values[3];
  const gemmi::Mat33 vectors = gemmi::eigen_decomposition(spread, values);  // ascending
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t column = 2 - i;
    Vector axis{vectors[0][column], vectors[1][column], vectors[2][column]};
    double skew = 0;
    for (const Shown& atom : atoms) {
      const double along = Dot(from_centre(atom), axis);
      skew += along * along * along;
    }
    if (skew < 0) {
      axis = {-axis.x, -axis.y, -axis.z};
    }
    view.axes[i] = axis;
  }
  view.axes[2] = Cross(view.axes[0], view.axes[1]);
  return view;
}
