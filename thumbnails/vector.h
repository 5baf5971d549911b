// Points and directions in space, in Ångström.

#ifndef THUMBNAILS_VECTOR_H_
#define THUMBNAILS_VECTOR_H_

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

#endif  // THUMBNAILS_VECTOR_H_
