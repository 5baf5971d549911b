#include "thumbnails/picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

// The polymer chains' colours, in turn: hues far apart, light enough for the lines and the
// shadows of an illustration to show on them, and none that a ligand's carbon has.
constexpr std::uint32_t kChainColours[] = {0x7AABE3, 0xF5AA60, 0x83B97B, 0xE98183,
                                           0xAB90D7, 0x60C6D0, 0xEED26B, 0xB8947B};
constexpr std::uint32_t kLigandCarbon = 0xF25BD0;
// Lipids in the tones of a membrane, the tails paler than the head groups.
constexpr std::uint32_t kLipidTail = 0xE6DCC3, kLipidHead = 0xC9A274;
// The lines of an illustration, where the surface drops away by more than a step: 3 Å, the
// size of an atom, and at least 6 pixels, so that a small picture keeps the lines of its shape
// and not those of every atom.
constexpr std::uint32_t kInk = 0x202020;
constexpr float kStep = 3, kLeastStep = 6;
// Its shadows: darker by up to a half where the surface lies 12 Å or more below the mean surface
// within 12 Å, so that clefts, pockets and the seams between domains show.
constexpr float kAround = 12, kDeep = 12, kDarkest = 0.5f;

// The paints of atoms: the chains' colours, a ligand's carbon, a lipid's tail and head group,
// then each element's (0 for none), and again for a ligand's atoms, which show in a pocket and
// are darkened less there.
constexpr std::uint32_t kChains = std::size(kChainColours);
constexpr std::uint32_t kLigandCarbonPaint = kChains, kLipidTailPaint = kChains + 1,
                        kLipidHeadPaint = kChains + 2, kElementPaints = kChains + 3;
constexpr std::uint32_t kElements = std::size(kElementColours) + 1;

std::uint32_t PaintOf(const Shown& atom, bool with_polymer) {
  if (with_polymer && atom.part == Part::kPolymer) {
    return static_cast<std::uint32_t>(atom.chain) % kChains;
  }
  if (atom.part == Part::kLipid) {
    return atom.element == 1 || atom.element == 6 ? kLipidTailPaint : kLipidHeadPaint;
  }
  const bool ligand = with_polymer && atom.part == Part::kLigand;
  if (ligand && atom.element == 6) {
    return kLigandCarbonPaint;
  }
  const std::uint32_t element =
      atom.element >= 1 && static_cast<std::uint32_t>(atom.element) < kElements
          ? static_cast<std::uint32_t>(atom.element)
          : 0;
  return kElementPaints + (ligand ? kElements : 0) + element;
}

bool IsLigands(std::uint32_t paint) {
  return paint == kLigandCarbonPaint || paint >= kElementPaints + kElements;
}

std::uint32_t ColourOf(std::uint32_t paint) {
  if (paint < kChains) {
    return kChainColours[paint];
  }
  switch (paint) {
    case kLigandCarbonPaint:
      return kLigandCarbon;
    case kLipidTailPaint:
      return kLipidTail;
    case kLipidHeadPaint:
      return kLipidHead;
  }
  const std::uint32_t element = (paint - kElementPaints) % kElements;
  return element > 0 ? kElementColours[element - 1] : kUnknownElement;
}

// What a picture of `atoms` shows in any view: an even sample of a large structure, every atom of
// a smaller one, each with its radius and paint.
Model ModelOf(const std::vector<Shown>& atoms) {
  const auto any = [&](Part part) {
    return std::any_of(atoms.begin(), atoms.end(),
                       [&](const Shown& atom) { return atom.part == part; });
  };
  const bool with_polymer = any(Part::kPolymer);
  Model model;
  model.style = with_polymer || any(Part::kLipid) ? Style::kIllustration : Style::kSpheres;
  const std::size_t drawn = std::min(atoms.size(), kMostAtomsDrawn);
  model.balls.reserve(drawn);
  for (std::size_t i = 0; i < drawn; ++i) {
    const Shown& atom = atoms[i * atoms.size() / drawn];
    model.balls.push_back({atom.x, atom.y, atom.z, atom.radius, PaintOf(atom, with_polymer)});
  }
  return model;
}

// A sphere in the picture, in pixels; its depth grows towards the viewer.
struct Sphere {
  float x, y, depth, radius;
  std::uint32_t paint;
};

constexpr double kMostPixelVisits = 1 << 26;
constexpr double kPi = 3.14159265358979323846;

// `spheres` nearest first, so that what lies behind is left at once; those at the same depth in
// the file's order. Numbers, each a depth and a place, sort faster than the spheres would.
std::vector<Sphere> NearestFirst(const std::vector<Sphere>& spheres) {
  std::vector<std::uint64_t> order(spheres.size());
  for (std::size_t i = 0; i < spheres.size(); ++i) {
    // The depth's bits, made to grow as the depth falls.
    std::uint32_t bits;
    std::memcpy(&bits, &spheres[i].depth, sizeof bits);
    bits = bits & 0x80000000u ? bits : ~bits & 0x7FFFFFFFu;
    order[i] = static_cast<std::uint64_t>(bits) << 32 | i;
  }
  std::sort(order.begin(), order.end());
  std::vector<Sphere> sorted;
  sorted.reserve(spheres.size());
  for (const std::uint64_t place : order) {
    sorted.push_back(spheres[place & 0xFFFFFFFFu]);
  }
  return sorted;
}

// What a pixel shows, in one number whose greater value is the nearer: the depth of the nearest
// surface over the pixel's centre in 8,191 levels from the farthest sphere's back to the nearest
// one's front, and below it the sphere's place in the drawing order, turned round, so that of two
// at the same level the one drawn first shows; 0 where no surface is.
using Key = std::uint32_t;
constexpr int kOrderBits = 18;
constexpr Key kOrders = (1u << kOrderBits) - 1;
constexpr Key kLevels = (1u << (31 - kOrderBits)) - 1;
static_assert(kMostAtomsDrawn < static_cast<std::size_t>(kOrders));
constexpr Key kBare = 0;

Key KeyOf(Key level, std::uint32_t order) {
  return level << kOrderBits | (kOrders - static_cast<Key>(order));
}
std::uint32_t OrderOf(Key key) { return static_cast<std::uint32_t>(kOrders - (key & kOrders)); }
int LevelOf(Key key) { return static_cast<int>(key >> kOrderBits); }

// The picture as its spheres are drawn, nearest first, each pixel its key. Tiles of 8 × 8 pixels
// keep the least key on them, so that a sphere behind all that they show is left at once.
class Canvas {
 public:
  // `spheres` in the order they are to be drawn; a pixel of depth makes `levels` levels, from
  // `farthest`.
  Canvas(int width, int height, const std::vector<Sphere>& spheres, float farthest, float levels)
      : width_(width),
        height_(height),
        tiles_across_((width + kTile - 1) / kTile),
        spheres_(spheres),
        farthest_(farthest),
        levels_(levels),
        keys_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kBare),
        least_(static_cast<std::size_t>(tiles_across_ * ((height + kTile - 1) / kTile)), kBare),
        stale_(least_.size()) {}

  // Draws spheres[order], behind which no sphere drawn before lies.
  void Draw(std::uint32_t order);

  // What each pixel shows, once the spheres are drawn.
  std::vector<Key> TakeKeys() { return std::move(keys_); }

 private:
  static constexpr int kTile = 8;
  Key Least(int tile_x, int tile_y);

  int width_, height_, tiles_across_;
  const std::vector<Sphere>& spheres_;
  float farthest_, levels_;
  std::vector<Key> keys_;
  std::vector<Key> least_;
  std::vector<char> stale_;
};

Key Canvas::Least(int tile_x, int tile_y) {
  const std::size_t tile = static_cast<std::size_t>(tile_y * tiles_across_ + tile_x);
  if (stale_[tile]) {
    stale_[tile] = 0;
    // Keys are less than 2^31: compared as signed numbers, which processors compare faster.
    std::int32_t least = std::numeric_limits<std::int32_t>::max();
    const int right = std::min(width_, (tile_x + 1) * kTile);
    const int bottom = std::min(height_, (tile_y + 1) * kTile);
    for (int y = tile_y * kTile; y < bottom; ++y) {
      const Key* row = &keys_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_)];
      for (int x = tile_x * kTile; x < right; ++x) {
        least = std::min(least, static_cast<std::int32_t>(row[x]));
      }
    }
    least_[tile] = static_cast<Key>(least);
  }
  return least_[tile];
}

void Canvas::Draw(std::uint32_t order) {
  const Sphere& sphere = spheres_[order];
  const float r = sphere.radius;
  // The level of a depth: 1 + (depth - farthest_) * levels_, rounded down.
  const float base = 1 + (sphere.depth - farthest_) * levels_;
  const Key inverse = kOrders - static_cast<Key>(order);
  const Key front = KeyOf(static_cast<Key>(base + r * levels_), order);
  const int top = std::max(0, static_cast<int>(std::floor(sphere.y - r)));
  const int bottom = std::min(height_, static_cast<int>(std::ceil(sphere.y + r)));
  const int left = std::max(0, static_cast<int>(std::floor(sphere.x - r)));
  const int right = std::min(width_, static_cast<int>(std::ceil(sphere.x + r)));
  for (int band = top / kTile; band * kTile < bottom; ++band) {
    // Of this band of tiles, those on which the sphere may show: from the first to the last
    // that shows a surface behind its front.
    int first = left / kTile, last = (right - 1) / kTile;
    while (first <= last && Least(first, band) >= front) {
      ++first;
    }
    while (last >= first && Least(last, band) >= front) {
      --last;
    }
    if (first > last) {
      continue;
    }
    const int from = std::max(left, first * kTile), to = std::min(right, (last + 1) * kTile);
    for (int y = std::max(top, band * kTile); y < std::min(bottom, (band + 1) * kTile); ++y) {
      const float dy = static_cast<float>(y) + 0.5f - sphere.y;
      const float inside = r * r - dy * dy;
      const float half = std::sqrt(std::max(inside, 0.0f));
      const int x0 = std::max(from, static_cast<int>(std::floor(sphere.x - half)));
      const int x1 = std::min(to, static_cast<int>(std::ceil(sphere.x + half)));
      Key* keys = &keys_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_)];
      for (int x = x0; x < x1; ++x) {
        const float dx = static_cast<float>(x) + 0.5f - sphere.x;
        const float height = inside - dx * dx;
        const Key key = static_cast<Key>(base + std::sqrt(std::max(height, 0.0f)) * levels_)
                            << kOrderBits |
                        inverse;
        keys[x] = ((height > 0) & (key > keys[x])) ? key : keys[x];
      }
    }
    for (int t = first; t <= last; ++t) {
      stale_[static_cast<std::size_t>(band * tiles_across_ + t)] = 1;
    }
  }
}

// The share of a pixel whose centre is `dx`, `dy` pixels from a sphere's centre that its disc
// covers.
float Coverage(const Sphere& sphere, float dx, float dy) {
  return std::clamp(sphere.radius + 0.5f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
}

// Paints the picture over its keys, row by row. `surface(x, y, key)` is the colour of a pixel with
// a surface; `rim(x, y, sphere, share)` that of a pixel without, which the rim of a sphere seen on
// a pixel next to it covers in part, the one that covers the most; a pixel that none covers is
// left clear. `before(y)` runs before row y is painted, while the rows below it are as drawn.
template <typename Before, typename Surface, typename Rim>
void PaintOver(const std::vector<Sphere>& spheres, int width, int height, Before before,
               Surface surface, Rim rim, std::vector<Key>* keys) {
  const std::size_t span = static_cast<std::size_t>(width);
  // Each row as drawn, with a pixel without a surface on either side: the row above, this one
  // and the row below.
  std::vector<Key> rows(3 * (span + 2), kBare);
  for (int y = 0; y < height; ++y) {
    before(y);
    std::copy(rows.begin() + static_cast<std::ptrdiff_t>(span + 2), rows.end(), rows.begin());
    Key* const row = &(*keys)[static_cast<std::size_t>(y) * span];
    if (y == 0) {
      std::copy(row, row + span, rows.begin() + static_cast<std::ptrdiff_t>(span + 3));
    }
    Key* const below = &rows[2 * (span + 2) + 1];
    if (y + 1 < height) {
      std::copy(row + span, row + 2 * span, below);
    } else {
      std::fill(below, below + span, kBare);
    }
    const Key* const here = &rows[span + 3];
    for (int x = 0; x < width; ++x) {
      const Key key = here[x];
      if (key != kBare) {
        row[x] = surface(x, y, key);
        continue;
      }
      float share = 0;
      const Sphere* covering = nullptr;
      for (const Key* around : {here - span - 3, here - 1, here + span + 1}) {
        for (int k = 0; k < 3; ++k) {
          if (around[x + k] == kBare) {
            continue;
          }
          const Sphere& sphere = spheres[OrderOf(around[x + k])];
          const float covers = Coverage(sphere, static_cast<float>(x) + 0.5f - sphere.x,
                                        static_cast<float>(y) + 0.5f - sphere.y);
          if (covers > share) {
            share = covers;
            covering = &sphere;
          }
        }
      }
      if (covering) {
        row[x] = rim(x, y, *covering, share);
      }
    }
  }
}

std::uint32_t Byte(float value) {
  return static_cast<std::uint32_t>(std::clamp(value, 0.0f, 1.0f) * 255 + 0.5f);
}

// `colour` in `light`, 1 its own, and a white `shine` over it.
std::uint32_t Shaded(std::uint32_t colour, float light, float shine = 0) {
  const auto channel = [&](int at) {
    return Byte(static_cast<float>(colour >> at & 0xFF) / 255.0f * light + shine) << at;
  };
  return channel(16) | channel(8) | channel(0);
}

// Light from the upper left, in front.
constexpr float kLight[3] = {-0.40f, 0.50f, 0.77f};
constexpr float kHalfway[3] = {-0.22f, 0.28f, 0.94f};  // Between the light and the viewer.

// Shaded spheres: each pixel lit as the surface over it faces the light.
void PaintSpheres(const std::vector<Sphere>& spheres, int width, int height,
                  std::vector<Key>* keys) {
  const auto lit = [&](int x, int y, const Sphere& sphere, float alpha) {
    const float dx = static_cast<float>(x) + 0.5f - sphere.x;
    const float dy = static_cast<float>(y) + 0.5f - sphere.y;
    const float squared = dx * dx + dy * dy, r = sphere.radius;
    const float rim = std::max(std::sqrt(squared), r);
    const float normal[3] = {dx / rim, -dy / rim, std::sqrt(std::max(0.0f, r * r - squared)) / r};
    const float diffuse =
        std::max(0.0f, normal[0] * kLight[0] + normal[1] * kLight[1] + normal[2] * kLight[2]);
    float shine =
        std::max(0.0f, normal[0] * kHalfway[0] + normal[1] * kHalfway[1] + normal[2] * kHalfway[2]);
    for (int k = 0; k < 5; ++k) {
      shine *= shine;  // To the 32nd power.
    }
    return Byte(alpha) << 24 |
           Shaded(ColourOf(sphere.paint), 0.25f + 0.75f * diffuse, 0.45f * shine);
  };
  PaintOver(
      spheres, width, height, [](int) {},
      [&](int x, int y, Key key) { return lit(x, y, spheres[OrderOf(key)], 1); }, lit, keys);
}

// The surface around each pixel of a picture: the mean level of the surface within `reach`
// pixels, from blocks of 4 × 4 pixels, each its nearest level, and between their centres.
class SurfaceAround {
 public:
  SurfaceAround(const std::vector<Key>& keys, int width, int height, float reach);
  // The surface around row y, from the row before it is painted.
  void Row(int y);
  float At(int x) const;

 private:
  static constexpr int kBlock = 4;
  int across_, down_;
  std::vector<float> around_;
  std::vector<float> row_;
};

SurfaceAround::SurfaceAround(const std::vector<Key>& keys, int width, int height, float reach)
    : across_((width + kBlock - 1) / kBlock),
      down_((height + kBlock - 1) / kBlock),
      around_(static_cast<std::size_t>(across_ * down_)),
      row_(static_cast<std::size_t>(across_)) {
  std::vector<int> blocks(around_.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int& block = blocks[static_cast<std::size_t>(y / kBlock * across_ + x / kBlock)];
      block = std::max(block, LevelOf(keys[static_cast<std::size_t>(y * width + x)]));
    }
  }
  // Sums from the top left (summed-area tables) of the blocks' levels, and of the blocks drawn.
  const std::size_t stride = static_cast<std::size_t>(across_ + 1);
  std::vector<std::int64_t> sum(stride * static_cast<std::size_t>(down_ + 1));
  std::vector<std::int64_t> count(sum.size());
  for (int by = 0; by < down_; ++by) {
    for (int bx = 0; bx < across_; ++bx) {
      const int block = blocks[static_cast<std::size_t>(by * across_ + bx)];
      const std::size_t i =
          static_cast<std::size_t>(by + 1) * stride + static_cast<std::size_t>(bx + 1);
      sum[i] = sum[i - 1] + sum[i - stride] - sum[i - stride - 1] + block;
      count[i] = count[i - 1] + count[i - stride] - count[i - stride - 1] + (block > 0);
    }
  }
  const int blocks_reach = std::max(1, static_cast<int>(std::lround(reach / kBlock)));
  for (int by = 0; by < down_; ++by) {
    for (int bx = 0; bx < across_; ++bx) {
      const std::size_t x0 = static_cast<std::size_t>(std::max(0, bx - blocks_reach));
      const std::size_t x1 = static_cast<std::size_t>(std::min(across_, bx + blocks_reach + 1));
      const std::size_t y0 = static_cast<std::size_t>(std::max(0, by - blocks_reach)) * stride;
      const std::size_t y1 =
          static_cast<std::size_t>(std::min(down_, by + blocks_reach + 1)) * stride;
      const std::int64_t n = count[y1 + x1] - count[y1 + x0] - count[y0 + x1] + count[y0 + x0];
      const std::int64_t s = sum[y1 + x1] - sum[y1 + x0] - sum[y0 + x1] + sum[y0 + x0];
      around_[static_cast<std::size_t>(by * across_ + bx)] =
          n > 0 ? static_cast<float>(s) / static_cast<float>(n) : 0;
    }
  }
}

void SurfaceAround::Row(int y) {
  const float v =
      std::clamp((static_cast<float>(y) - 1.5f) / kBlock, 0.0f, static_cast<float>(down_ - 1));
  const int upper = static_cast<int>(v), lower = std::min(upper + 1, down_ - 1);
  for (int bx = 0; bx < across_; ++bx) {
    const float a = around_[static_cast<std::size_t>(upper * across_ + bx)];
    const float b = around_[static_cast<std::size_t>(lower * across_ + bx)];
    row_[static_cast<std::size_t>(bx)] = a + (b - a) * (v - static_cast<float>(upper));
  }
}

float SurfaceAround::At(int x) const {
  const float u =
      std::clamp((static_cast<float>(x) - 1.5f) / kBlock, 0.0f, static_cast<float>(across_ - 1));
  const int left = static_cast<int>(u), right = std::min(left + 1, across_ - 1);
  const float a = row_[static_cast<std::size_t>(left)];
  return a + (row_[static_cast<std::size_t>(right)] - a) * (u - static_cast<float>(left));
}

// The nearest and the farthest level within `reach` pixels of each pixel of a row (a square
// around it), outside the picture counted as no surface: along each row, then over the rows
// around, from a ring of them, each taken before its pixels are painted over.
class LevelsAround {
 public:
  LevelsAround(const std::vector<Key>& keys, int width, int height, int reach);
  // Row y's, while the rows from y + reach on are as drawn.
  void Row(int y);
  int Nearest(int x) const { return nearest_[static_cast<std::size_t>(x)]; }
  int Farthest(int x) const { return farthest_[static_cast<std::size_t>(x)]; }

 private:
  void AlongRow(int y);

  const std::vector<Key>& keys_;
  std::size_t width_;
  int height_, reach_, window_;
  std::vector<std::int16_t> padded_, ring_nearest_, ring_farthest_, nearest_, farthest_;
};

LevelsAround::LevelsAround(const std::vector<Key>& keys, int width, int height, int reach)
    : keys_(keys),
      width_(static_cast<std::size_t>(width)),
      height_(height),
      reach_(reach),
      window_(2 * reach + 1),
      padded_(width_ + 2 * static_cast<std::size_t>(reach)),
      ring_nearest_(static_cast<std::size_t>(window_) * width_),
      ring_farthest_(ring_nearest_.size()),
      nearest_(width_),
      farthest_(width_) {
  for (int y = -reach; y < reach; ++y) {
    AlongRow(y);
  }
}

void LevelsAround::AlongRow(int y) {
  const std::size_t slot = static_cast<std::size_t>((y + window_) % window_) * width_;
  std::int16_t* nearest = &ring_nearest_[slot];
  std::int16_t* farthest = &ring_farthest_[slot];
  if (y < 0 || y >= height_) {
    std::fill(nearest, nearest + width_, 0);
    std::fill(farthest, farthest + width_, 0);
    return;
  }
  const Key* row = &keys_[static_cast<std::size_t>(y) * width_];
  for (std::size_t x = 0; x < width_; ++x) {
    padded_[x + static_cast<std::size_t>(reach_)] = static_cast<std::int16_t>(LevelOf(row[x]));
  }
  std::copy(padded_.begin(), padded_.begin() + static_cast<std::ptrdiff_t>(width_), nearest);
  std::copy(padded_.begin(), padded_.begin() + static_cast<std::ptrdiff_t>(width_), farthest);
  for (std::size_t k = 1; k < static_cast<std::size_t>(window_); ++k) {
    for (std::size_t x = 0; x < width_; ++x) {
      nearest[x] = std::max(nearest[x], padded_[x + k]);
      farthest[x] = std::min(farthest[x], padded_[x + k]);
    }
  }
}

void LevelsAround::Row(int y) {
  AlongRow(y + reach_);
  std::copy(ring_nearest_.begin(), ring_nearest_.begin() + static_cast<std::ptrdiff_t>(width_),
            nearest_.begin());
  std::copy(ring_farthest_.begin(), ring_farthest_.begin() + static_cast<std::ptrdiff_t>(width_),
            farthest_.begin());
  for (std::size_t k = 1; k < static_cast<std::size_t>(window_); ++k) {
    for (std::size_t x = 0; x < width_; ++x) {
      nearest_[x] = std::max(nearest_[x], ring_nearest_[k * width_ + x]);
      farthest_[x] = std::min(farthest_[x], ring_farthest_[k * width_ + x]);
    }
  }
}

// An illustration: each sphere in its flat colour; a line where the surface drops away by more
// than a step (around the whole, and on what lies behind something nearer); and darker the deeper
// the surface lies below the surface around it, in clefts and pockets. `scale` is the pixels an
// Ångström makes, `levels` the levels a pixel of depth makes.
void PaintIllustration(const std::vector<Sphere>& spheres, int width, int height, float scale,
                       float levels, std::vector<Key>* keys) {
  SurfaceAround surface(*keys, width, height, kAround * scale);
  const float deep = kDeep * scale * levels;
  // Lines of about a 340th of the picture, at least a pixel wide: a pixel lies on one where a
  // pixel without a surface, or a surface nearer by more than a step, lies within as many pixels.
  const int line = std::max(1, static_cast<int>(std::lround(std::max(width, height) / 340.0)));
  LevelsAround around(*keys, width, height, line);
  const int step = static_cast<int>(std::max(kStep * scale, kLeastStep) * levels);
  constexpr std::uint32_t kOpaque = 0xFF000000u;
  PaintOver(
      spheres, width, height,
      [&](int y) {
        surface.Row(y);
        around.Row(y);
      },
      [&](int x, int, Key key) {
        const int depth = LevelOf(key);
        if (around.Farthest(x) == 0 || around.Nearest(x) - depth > step) {
          return kOpaque | kInk;
        }
        const std::uint32_t paint = spheres[OrderOf(key)].paint;
        const float below =
            std::clamp((surface.At(x) - static_cast<float>(depth)) / deep, 0.0f, 1.0f);
        return kOpaque |
               Shaded(ColourOf(paint), 1 - (IsLigands(paint) ? 0.5f : 1) * kDarkest * below);
      },
      [](int, int, const Sphere&, float share) { return Byte(share) << 24 | kInk; }, keys);
}

// The picture of `spheres`, in pixels, `width` × `height`: on a clear background, or opaque on
// `background` (0xRRGGBB). `scale` is the pixels an Ångström makes.
Picture Painted(std::vector<Sphere> spheres, Style style, int width, int height, double scale,
                std::optional<std::uint32_t> background) {
  float farthest = INFINITY, nearest = -INFINITY;
  for (const Sphere& sphere : spheres) {
    farthest = std::min(farthest, sphere.depth - sphere.radius);
    nearest = std::max(nearest, sphere.depth + sphere.radius);
  }
  spheres = NearestFirst(spheres);
  // The levels a pixel of depth makes: all the depth in all but the last level, which rounding
  // may reach.
  const float levels = static_cast<float>(kLevels - 2) / std::max(nearest - farthest, 1e-3f);

  Canvas canvas(width, height, spheres, farthest, levels);
  // However the atoms lie (a file of many atoms in one place, whose every sphere fills the
  // picture), drawing visits about kMostPixelVisits pixels at most: beyond, an even sample of the
  // spheres is drawn. Of real structures, those of more than 100,000 atoms or so reach it at cx
  // 1024 and above, where their spheres still overlap into a closed surface.
  double visits = 0;
  for (const Sphere& sphere : spheres) {
    visits += kPi * (sphere.radius + 0.5) * (sphere.radius + 0.5);
  }
  const std::size_t stride =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(visits / kMostPixelVisits)));
  for (std::size_t i = 0; i < spheres.size(); i += stride) {
    canvas.Draw(static_cast<std::uint32_t>(i));
  }
  std::vector<Key> keys = canvas.TakeKeys();
  if (style == Style::kSpheres) {
    PaintSpheres(spheres, width, height, &keys);
  } else {
    PaintIllustration(spheres, width, height, static_cast<float>(scale), levels, &keys);
  }
  if (background) {
    // Each pixel's colour over what its alpha leaves of the background.
    for (Key& pixel : keys) {
      const float alpha = static_cast<float>(pixel >> 24) / 255;
      std::uint32_t over = 0xFF000000u;
      for (int at = 0; at <= 16; at += 8) {
        const float mixed = static_cast<float>(pixel >> at & 0xFF) * alpha +
                            static_cast<float>(*background >> at & 0xFF) * (1 - alpha);
        over |= Byte(mixed / 255) << at;
      }
      pixel = over;
    }
  }
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = std::move(keys);
  return picture;
}

}  // namespace

Picture DrawAtoms(const std::vector<Shown>& atoms, const View& view, int longer_side) {
  const Model model = ModelOf(atoms);
  // In the view's frame, in Ångström, and the extent of the spheres in it.
  std::vector<Sphere> spheres;
  spheres.reserve(model.balls.size());
  double left = INFINITY, right = -INFINITY, bottom = INFINITY, top = -INFINITY;
  for (const Ball& ball : model.balls) {
    const Vector p = {ball.x - view.centre.x, ball.y - view.centre.y, ball.z - view.centre.z};
    const double x = Dot(p, view.axes[0]), y = Dot(p, view.axes[1]);
    left = std::min(left, x - ball.radius);
    right = std::max(right, x + ball.radius);
    bottom = std::min(bottom, y - ball.radius);
    top = std::max(top, y + ball.radius);
    spheres.push_back({static_cast<float>(x), static_cast<float>(y),
                       static_cast<float>(Dot(p, view.axes[2])), ball.radius, ball.paint});
  }

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
    sphere = {static_cast<float>(x0 + (sphere.x - left) * scale),
              static_cast<float>(y0 + (top - sphere.y) * scale),
              static_cast<float>(sphere.depth * scale), static_cast<float>(sphere.radius * scale),
              sphere.paint};
  }
  return Painted(std::move(spheres), model.style, width, height, scale, std::nullopt);
}

Scene SceneOf(const std::vector<Shown>& atoms, const View& view) {
  Scene scene = {ModelOf(atoms)};
  Vector low = {INFINITY, INFINITY, INFINITY}, high = {-INFINITY, -INFINITY, -INFINITY};
  for (Ball& ball : scene.model.balls) {
    const Vector p = {ball.x - view.centre.x, ball.y - view.centre.y, ball.z - view.centre.z};
    const Vector q = {Dot(p, view.axes[0]), Dot(p, view.axes[1]), Dot(p, view.axes[2])};
    const double r = ball.radius;
    low = {std::min(low.x, q.x - r), std::min(low.y, q.y - r), std::min(low.z, q.z - r)};
    high = {std::max(high.x, q.x + r), std::max(high.y, q.y + r), std::max(high.z, q.z + r)};
    ball.x = static_cast<float>(q.x), ball.y = static_cast<float>(q.y),
    ball.z = static_cast<float>(q.z);
  }
  const Vector middle = {(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
  for (Ball& ball : scene.model.balls) {
    ball.x -= static_cast<float>(middle.x), ball.y -= static_cast<float>(middle.y),
        ball.z -= static_cast<float>(middle.z);
    const Vector p = {ball.x, ball.y, ball.z};
    scene.reach = std::max(scene.reach, std::sqrt(Dot(p, p)) + ball.radius);
  }
  return scene;
}

Picture DrawTurned(const Scene& scene, const Turn& turn, int width, int height,
                   std::uint32_t background, std::size_t every) {
  const int shorter = std::min(width, height);
  const int margin = shorter > 2 ? 1 : 0;
  const double scale = (shorter - 2 * margin) / (2 * scene.reach);
  const std::vector<Ball>& balls = scene.model.balls;
  std::vector<Sphere> spheres;
  spheres.reserve(balls.size() / every + 1);
  for (std::size_t i = 0; i < balls.size(); i += every) {
    const Vector p = {balls[i].x, balls[i].y, balls[i].z};
    spheres.push_back({static_cast<float>(width / 2.0 + Dot(turn[0], p) * scale),
                       static_cast<float>(height / 2.0 - Dot(turn[1], p) * scale),
                       static_cast<float>(Dot(turn[2], p) * scale),
                       static_cast<float>(balls[i].radius * scale), balls[i].paint});
  }
  return Painted(std::move(spheres), scene.model.style, width, height, scale, background);
}
