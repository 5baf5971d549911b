// Points and directions in space, in Ångström.

#ifndef THUMBNAILS_VECTOR_H_
#define THUMBNAILS_VECTOR_H_

#include <array>
#include <cmath>
#include <cstddef>

struct Vector {
  double x = 0, y = 0, z = 0;
};

inline Vector operator+(const Vector& a, const Vector& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector operator-(const Vector& a, const Vector& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector operator*(double s, const Vector& a) { return {s * a.x, s * a.y, s * a.z}; }
inline double Dot(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vector Cross(const Vector& a, const Vector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline Vector Unit(const Vector& v) { return (1 / std::sqrt(Dot(v, v))) * v; }

// Three axes at right angles, each of unit length, right-handed: a view's, or a turn's.
using Frame = std::array<Vector, 3>;

// `frame` turned by `angle` about its own axis `axis`, right-handed still.
inline Frame Turned(const Frame& frame, std::size_t axis, double angle) {
  const std::size_t u = (axis + 1) % 3, v = (axis + 2) % 3;
  const double c = std::cos(angle), s = std::sin(angle);
  Frame turned = frame;
  turned[u] = c * frame[u] + s * frame[v];
  turned[v] = c * frame[v] - s * frame[u];
  return turned;
}

// `frame` made right-handed and orthonormal again, once many turns have added up their rounding.
inline Frame Orthonormal(Frame frame) {
  frame[0] = Unit(frame[0]);
  frame[1] = Unit(frame[1] - Dot(frame[1], frame[0]) * frame[0]);
  frame[2] = Cross(frame[0], frame[1]);
  return frame;
}

#endif  // THUMBNAILS_VECTOR_H_
