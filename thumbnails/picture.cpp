#include "thumbnails/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gemmi/elem.hpp>
#include <iterator>
#include <limits>
#include <optional>

namespace {

// The colours of the elements in Jmol's table, which molecular graphics at large follow, from
// hydrogen to meitnerium; it has none for the elements beyond.
constexpr std::uint32_t kElementColours[] = {
    0xFFFFFF, 0xD9FFFF, 0xCC80FF, 0xC2FF00, 0xFFB5B5, 0x909090, 0x3050F8, 0xFF0D0D,  // H-O
    0x90E050, 0xB3E3F5, 0xAB5CF2, 0x8AFF00, 0xBFA6A6, 0xF0C8A0, 0xFF8000, 0xFFFF30,  // F-S
    0x1FF01F, 0x80D1E3, 0x8F40D4, 0x3DFF00, 0xE6E6E6, 0xBFC2C7, 0xA6A6AB, 0x8A99C7,  // Cl-Cr
    0x9C7AC7, 0xE06633, 0xF090A0, 0x50D050, 0xC88033, 0x7D80B0, 0xC28F8F, 0x668F8F,  // Mn-Ge
    0xBD80E3, 0xFFA100, 0xA62929, 0x5CB8D1, 0x702EB0, 0x00FF00, 0x94FFFF, 0x94E0E0,  // As-Zr
    0x73C2C9, 0x54B5B5, 0x3B9E9E, 0x248F8F, 0x0A7D8C, 0x006985, 0xC0C0C0, 0xFFD98F,  // Nb-Cd
    0xA67573, 0x668080, 0x9E63B5, 0xD47A00, 0x940094, 0x429EB0, 0x57178F, 0x00C900,  // In-Ba
    0x70D4FF, 0xFFFFC7, 0xD9FFC7, 0xC7FFC7, 0xA3FFC7, 0x8FFFC7, 0x61FFC7, 0x45FFC7,  // La-Gd
    0x30FFC7, 0x1FFFC7, 0x00FF9C, 0x00E675, 0x00D452, 0x00BF38, 0x00AB24, 0x4DC2FF,  // Tb-Hf
    0x4DA6FF, 0x2194D6, 0x267DAB, 0x266696, 0x175487, 0xD0D0E0, 0xFFD123, 0xB8B8D0,  // Ta-Hg
    0xA6544D, 0x575961, 0x9E4FB5, 0xAB5C00, 0x754F45, 0x428296, 0x420066, 0x007D00,  // Tl-Ra
    0x70ABFA, 0x00BAFF, 0x00A1FF, 0x008FFF, 0x0080FF, 0x006BFF, 0x545CF2, 0x785CE3,  // Ac-Cm
    0x8A4FE3, 0xA136D4, 0xB31FD4, 0xB31FBA, 0xB30DA6, 0xBD0D87, 0xC70066, 0xCC0059,  // Bk-Rf
    0xD1004F, 0xD90045, 0xE00038, 0xE6002E, 0xEB0026};                               // Db-Mt
// An element that none can tell, or that the table lacks: a neutral grey, lighter than carbon's.
constexpr std::uint32_t kUnknownElement = 0xC8C8C8;

// The polymer chains' colours, in turn: hues far apart, neither pale nor grey, and none that a
// ligand's carbon has.
constexpr std::uint32_t kChainColours[] = {0x4E8FD9, 0xF28E2B, 0x59A14F, 0xE15759,
                                           0x8F6BC9, 0x2BB3C0, 0xE8C33A, 0xA0704F};
constexpr std::uint32_t kLigandCarbon = 0xF25BD0;

std::uint32_t ColourOf(const Shown& atom, bool with_polymer) {
  if (with_polymer && atom.part == Part::kPolymer) {
    return kChainColours[static_cast<std::size_t>(atom.chain) % std::size(kChainColours)];
  }
  if (with_polymer && atom.part == Part::kLigand && atom.element == 6) {
    return kLigandCarbon;
  }
  return atom.element >= 1 && static_cast<std::size_t>(atom.element) <= std::size(kElementColours)
             ? kElementColours[atom.element - 1]
             : kUnknownElement;
}

// Van der Waals radii: the spheres of a space-filling model.
double RadiusOf(int element) {
  return gemmi::vdw_radius(static_cast<gemmi::El>(element >= 1 && element <= 118 ? element : 0));
}

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

// The spheres of `atoms` in the frame of `view`, in Ångström: an even sample of a large
// structure, every atom of a smaller one.
std::vector<Sphere> SpheresOf(const std::vector<Shown>& atoms, const View& view) {
  const bool with_polymer = std::any_of(
      atoms.begin(), atoms.end(), [](const Shown& atom) { return atom.part == Part::kPolymer; });
  const std::size_t drawn = std::min(atoms.size(), kMostAtomsDrawn);
  std::vector<Sphere> spheres;
  spheres.reserve(drawn);
  for (std::size_t i = 0; i < drawn; ++i) {
    const Shown& atom = atoms[i * atoms.size() / drawn];
    const Vector p = {atom.x - view.centre.x, atom.y - view.centre.y, atom.z - view.centre.z};
    spheres.push_back({Dot(p, view.axes[0]), Dot(p, view.axes[1]), Dot(p, view.axes[2]),
                       RadiusOf(atom.element), ColourOf(atom, with_polymer)});
  }
  return spheres;
}

// Where the spheres reach in the view's plane: left, right, bottom and top.
std::array<double, 4> ExtentOf(const std::vector<Sphere>& spheres) {
  std::array<double, 4> extent = {INFINITY, -INFINITY, INFINITY, -INFINITY};
  for (const Sphere& sphere : spheres) {
    extent = {std::min(extent[0], sphere.x - sphere.radius),
              std::max(extent[1], sphere.x + sphere.radius),
              std::min(extent[2], sphere.y - sphere.radius),
              std::max(extent[3], sphere.y + sphere.radius)};
  }
  return extent;
}

// The picture of `spheres`, in pixels (depth too), `width` × `height`: transparent where no
// sphere is, or opaque on `background` (0xRRGGBB) where one is given.
Picture Painted(std::vector<Sphere> spheres, int width, int height,
                std::optional<std::uint32_t> background) {
  Picture picture;
  picture.width = width;
  picture.height = height;
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
    if (background) {
      // The spheres' premultiplied colour, over what they leave of the background.
      picture.pixels[i] = 0xFF000000;
      for (std::size_t k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * static_cast<int>(k);
        picture.pixels[i] |= Byte(c[k] + (*background >> shift & 0xFF) / 255.0 * (1 - alpha))
                             << shift;
      }
    } else {
      picture.pixels[i] = alpha <= 0 ? 0
                                     : Byte(alpha) << 24 | Byte(c[0] / alpha) << 16 |
                                           Byte(c[1] / alpha) << 8 | Byte(c[2] / alpha);
    }
  }
  return picture;
}

}  // namespace

Picture DrawAtoms(const std::vector<Shown>& atoms, const View& view, int longer_side) {
  std::vector<Sphere> spheres = SpheresOf(atoms, view);
  const auto [left, right, bottom, top] = ExtentOf(spheres);
  // A pixel of margin, for the edges' soft pixels.
  const int margin = longer_side > 2 ? 1 : 0;
  const double longer = std::max(right - left, top - bottom);
  const double scale = (longer_side - 2 * margin) / longer;
  const auto side = [&](double extent) {
    return std::clamp(static_cast<int>(std::ceil(extent * scale)) + 2 * margin, 1, longer_side);
  };
  const int width = right - left >= top - bottom ? longer_side : side(right - left);
  const int height = right - left >= top - bottom ? side(top - bottom) : longer_side;
  const double x0 = (width - (right - left) * scale) / 2;
  const double y0 = (height - (top - bottom) * scale) / 2;
  for (Sphere& sphere : spheres) {
    sphere = {x0 + (sphere.x - left) * scale, y0 + (top - sphere.y) * scale, sphere.depth * scale,
              sphere.radius * scale, sphere.colour};
  }
  return Painted(std::move(spheres), width, height, std::nullopt);
}

Scene SceneOf(const std::vector<Shown>& atoms, const View& view) {
  Scene scene = {SpheresOf(atoms, view)};
  const auto [left, right, bottom, top] = ExtentOf(scene.spheres);
  double front = -INFINITY, back = INFINITY;
  for (const Sphere& sphere : scene.spheres) {
    front = std::max(front, sphere.depth + sphere.radius);
    back = std::min(back, sphere.depth - sphere.radius);
  }
  const Vector middle = {(left + right) / 2, (bottom + top) / 2, (front + back) / 2};
  for (Sphere& sphere : scene.spheres) {
    sphere.x -= middle.x, sphere.y -= middle.y, sphere.depth -= middle.z;
    const Vector p = {sphere.x, sphere.y, sphere.depth};
    scene.reach = std::max(scene.reach, std::sqrt(Dot(p, p)) + sphere.radius);
  }
  return scene;
}

Picture DrawTurned(const Scene& scene, const Turn& turn, int width, int height,
                   std::uint32_t background, std::size_t every) {
  const int shorter = std::min(width, height);
  const int margin = shorter > 2 ? 1 : 0;
  const double scale = (shorter - 2 * margin) / (2 * scene.reach);
  std::vector<Sphere> spheres;
  spheres.reserve(scene.spheres.size() / every + 1);
  for (std::size_t i = 0; i < scene.spheres.size(); i += every) {
    const Sphere& sphere = scene.spheres[i];
    const Vector p = {sphere.x, sphere.y, sphere.depth};
    spheres.push_back({width / 2.0 + Dot(turn[0], p) * scale,
                       height / 2.0 - Dot(turn[1], p) * scale, Dot(turn[2], p) * scale,
                       sphere.radius * scale, sphere.colour});
  }
  return Painted(std::move(spheres), width, height, background);
}
