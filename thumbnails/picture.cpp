#include "thumbnails/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gemmi/eig3.hpp>
#include <gemmi/elem.hpp>
#include <limits>

namespace {

struct Vector {
  double x = 0, y = 0, z = 0;
};

double Dot(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vector Cross(const Vector& a, const Vector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The usual (CPK) colours of the elements of molecules, in the shades that molecular graphics
// programs share; any other element in one colour that stands out.
std::uint32_t ColourOf(int element) {
  switch (element) {
    case 1:
      return 0xFFFFFF;  // H
    case 5:
      return 0xFFB5B5;  // B
    case 6:
      return 0x909090;  // C
    case 7:
      return 0x3050F8;  // N
    case 8:
      return 0xFF0D0D;  // O
    case 9:
      return 0x90E050;  // F
    case 11:
      return 0xAB5CF2;  // Na
    case 12:
      return 0x8AFF00;  // Mg
    case 14:
      return 0xF0C8A0;  // Si
    case 15:
      return 0xFF8000;  // P
    case 16:
      return 0xFFFF30;  // S
    case 17:
      return 0x1FF01F;  // Cl
    case 19:
      return 0x8F40D4;  // K
    case 20:
      return 0x3DFF00;  // Ca
    case 26:
      return 0xE06633;  // Fe
    case 29:
      return 0xC88033;  // Cu
    case 30:
      return 0x7D80B0;  // Zn
    case 34:
      return 0xFFA100;  // Se
    case 35:
      return 0xA62929;  // Br
    case 53:
      return 0x940094;  // I
    default:
      return 0xFF1493;
  }
}

// Van der Waals radii: the spheres of a space-filling model.
double RadiusOf(int element) {
  return gemmi::vdw_radius(static_cast<gemmi::El>(element >= 1 && element <= 118 ? element : 0));
}

// The structure's principal axes, its largest spread first, as a right-handed frame (a mirror
// image would show the other enantiomer): x to the right, y up, and z towards the viewer, who
// looks along the axis of least spread. Each of the first two points to where the structure
// reaches farther, so that however a file turns a structure, it shows the same way.
std::array<Vector, 3> Axes(const std::vector<Vector>& points) {
  gemmi::SMat33<double> spread{0, 0, 0, 0, 0, 0};
  for (const Vector& p : points) {
    spread.u11 += p.x * p.x;
    spread.u22 += p.y * p.y;
    spread.u33 += p.z * p.z;
    spread.u12 += p.x * p.y;
    spread.u13 += p.x * p.z;
    spread.u23 += p.y * p.z;
  }
  double values[3];
  const gemmi::Mat33 vectors = gemmi::eigen_decomposition(spread, values);  // ascending
  std::array<Vector, 3> axes;
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t column = 2 - i;
    Vector axis{vectors[0][column], vectors[1][column], vectors[2][column]};
    double skew = 0;
    for (const Vector& p : points) {
      const double along = Dot(p, axis);
      skew += along * along * along;
    }
    if (skew < 0) {
      axis = {-axis.x, -axis.y, -axis.z};
    }
    axes[i] = axis;
  }
  axes[2] = Cross(axes[0], axes[1]);
  return axes;
}

struct Sphere {
  double x, y, depth, radius;  // In pixels; depth grows towards the viewer.
  std::uint32_t colour;
};

constexpr double kMostPixelVisits = 1 << 26;
constexpr double kPi = 3.14159265358979323846;

// Light from the upper left, in front.
constexpr Vector kLight = {-0.40, 0.50, 0.77};
constexpr Vector kHalfway = {-0.22, 0.28, 0.94};  // Between the light and the viewer.

// Premultiplied red, green, blue and alpha of the picture as it is drawn.
using Colour = std::array<float, 4>;

// The picture as it is drawn: each pixel's colour, the depth of the nearest sphere drawn on it,
// and that depth again once the pixel is covered whole (minus infinity until then), which alone
// tells, from a quarter of the memory, that a sphere behind leaves the pixel as it is.
struct Canvas {
  int width;
  std::vector<Colour> colours;
  std::vector<float> depths;
  std::vector<float> covered;
};

// Draws a sphere into the picture, whose nearer spheres are drawn already: where one of them
// covers a pixel and lies before this sphere's front, the pixel is left at once. Where this
// sphere is the nearer one (spheres that meet), it goes over the pixel, else under it.
void Draw(const Sphere& sphere, Canvas* canvas) {
  const int width = canvas->width;
  const double r = sphere.radius;
  const double reach = (r + 0.5) * (r + 0.5), inner = r > 0.5 ? (r - 0.5) * (r - 0.5) : 0;
  const int height = static_cast<int>(canvas->depths.size() / static_cast<std::size_t>(width));
  const int top = std::max(0, static_cast<int>(std::floor(sphere.y - r - 0.5)));
  const int bottom = std::min(height, static_cast<int>(std::ceil(sphere.y + r + 0.5)));
  const double base[3] = {((sphere.colour >> 16) & 0xFF) / 255.0,
                          ((sphere.colour >> 8) & 0xFF) / 255.0, (sphere.colour & 0xFF) / 255.0};
  for (int y = top; y < bottom; ++y) {
    const double dy = y + 0.5 - sphere.y;
    if (dy * dy >= reach) {
      continue;
    }
    const double half = std::sqrt(reach - dy * dy);
    const int left = std::max(0, static_cast<int>(std::floor(sphere.x - half)));
    const int right = std::min(width, static_cast<int>(std::ceil(sphere.x + half)));
    for (int x = left; x < right; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x);
      if (canvas->covered[i] >= sphere.depth + r) {
        continue;
      }
      Colour& pixel = canvas->colours[i];
      float& nearest = canvas->depths[i];
      const double dx = x + 0.5 - sphere.x;
      const double squared = dx * dx + dy * dy;
      // The share of the pixel the sphere covers, for edges without steps.
      const double coverage = squared <= inner ? 1 : std::min(1.0, r + 0.5 - std::sqrt(squared));
      if (coverage <= 0) {
        continue;
      }
      const double height_above = std::sqrt(std::max(0.0, r * r - squared));
      const double depth = sphere.depth + height_above;
      const bool in_front = depth > nearest;
      if (!in_front && pixel[3] >= 1) {
        continue;
      }
      const double rim = std::max(std::sqrt(squared), r);
      const Vector normal = {dx / rim, -dy / rim, height_above / r};
      const double diffuse = std::max(0.0, Dot(normal, kLight));
      double shine = std::max(0.0, Dot(normal, kHalfway));
      for (int k = 0; k < 5; ++k) {
        shine *= shine;  // To the 32nd power.
      }
      // Over the pixel: this sphere's share, and the rest of what was there; under it: what
      // the pixel leaves uncovered.
      const float share = static_cast<float>(coverage) * (in_front ? 1 : 1 - pixel[3]);
      const float kept = in_front ? 1 - static_cast<float>(coverage) : 1;
      for (std::size_t c = 0; c < 3; ++c) {
        const double lit = std::min(1.0, base[c] * (0.25 + 0.75 * diffuse) + 0.45 * shine);
        pixel[c] = static_cast<float>(lit) * share + pixel[c] * kept;
      }
      pixel[3] = share + pixel[3] * kept;
      if (in_front) {
        nearest = static_cast<float>(depth);
      }
      if (pixel[3] >= 1) {
        canvas->covered[i] = nearest;
      }
    }
  }
}

std::uint32_t Byte(double value) {
  return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

}  // namespace

Picture DrawAtoms(const Atoms& atoms, int longer_side) {
  // An even sample of a large structure; every atom of a smaller one.
  const std::size_t drawn = std::min(atoms.size(), kMostAtomsDrawn);
  std::vector<const Atom*> sample(drawn);
  for (std::size_t i = 0; i < drawn; ++i) {
    sample[i] = &atoms[i * atoms.size() / drawn];
  }
  Vector centre;
  for (const Atom* atom : sample) {
    centre = {centre.x + atom->x, centre.y + atom->y, centre.z + atom->z};
  }
  const double count = static_cast<double>(drawn);
  centre = {centre.x / count, centre.y / count, centre.z / count};
  std::vector<Vector> points;
  points.reserve(drawn);
  for (const Atom* atom : sample) {
    points.push_back({atom->x - centre.x, atom->y - centre.y, atom->z - centre.z});
  }
  const std::array<Vector, 3> axes = Axes(points);

  // In the structure's frame, in Ångström, and the extent of the spheres in it.
  std::vector<Sphere> spheres;
  spheres.reserve(drawn);
  double left = INFINITY, right = -INFINITY, bottom = INFINITY, top = -INFINITY;
  for (std::size_t i = 0; i < drawn; ++i) {
    const Sphere sphere = {Dot(points[i], axes[0]), Dot(points[i], axes[1]),
                           Dot(points[i], axes[2]), RadiusOf(sample[i]->element),
                           ColourOf(sample[i]->element)};
    left = std::min(left, sphere.x - sphere.radius);
    right = std::max(right, sphere.x + sphere.radius);
    bottom = std::min(bottom, sphere.y - sphere.radius);
    top = std::max(top, sphere.y + sphere.radius);
    spheres.push_back(sphere);
  }

  // A pixel of margin, for the edges' soft pixels.
  const int margin = longer_side > 2 ? 1 : 0;
  const double longer = std::max(right - left, top - bottom);
  const double scale = (longer_side - 2 * margin) / longer;
  const auto side = [&](double extent) {
    return std::clamp(static_cast<int>(std::ceil(extent * scale)) + 2 * margin, 1, longer_side);
  };
  Picture picture;
  picture.width = right - left >= top - bottom ? longer_side : side(right - left);
  picture.height = right - left >= top - bottom ? side(top - bottom) : longer_side;
  const double x0 = (picture.width - (right - left) * scale) / 2;
  const double y0 = (picture.height - (top - bottom) * scale) / 2;
  for (Sphere& sphere : spheres) {
    sphere = {x0 + (sphere.x - left) * scale, y0 + (top - sphere.y) * scale, sphere.depth * scale,
              sphere.radius * scale, sphere.colour};
  }
  // Nearest first, so that what lies behind is left at once; atoms at the same depth in the
  // file's order.
  std::stable_sort(spheres.begin(), spheres.end(),
                   [](const Sphere& a, const Sphere& b) { return a.depth > b.depth; });

  const std::size_t area =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
  constexpr float kNone = -std::numeric_limits<float>::infinity();
  Canvas canvas = {picture.width, std::vector<Colour>(area, Colour{0, 0, 0, 0}),
                   std::vector<float>(area, kNone), std::vector<float>(area, kNone)};
  // However the atoms lie (a file of many atoms in one place, whose every sphere fills the
  // picture), drawing visits about kMostPixelVisits pixels at most: beyond, an even sample of the
  // spheres is drawn. Of real structures, those of more than 100,000 atoms or so reach it at cx
  // 1024 and above, where their spheres still overlap into a closed surface.
  double visits = 0;
  for (const Sphere& sphere : spheres) {
    visits += kPi * (sphere.radius + 0.5) * (sphere.radius + 0.5);
  }
  const std::size_t stride = static_cast<std::size_t>(std::ceil(visits / kMostPixelVisits));
  for (std::size_t i = 0; i < spheres.size(); i += std::max<std::size_t>(stride, 1)) {
    Draw(spheres[i], &canvas);
  }
  picture.pixels.resize(area);
  for (std::size_t i = 0; i < area; ++i) {
    const Colour& c = canvas.colours[i];
    const double alpha = c[3];
    picture.pixels[i] = alpha <= 0 ? 0
                                   : Byte(alpha) << 24 | Byte(c[0] / alpha) << 16 |
                                         Byte(c[1] / alpha) << 8 | Byte(c[2] / alpha);
  }
  return picture;
}
