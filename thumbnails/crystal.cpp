#include "thumbnails/crystal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <gemmi/elem.hpp>
#include <limits>
#include <map>
#include <tuple>
#include <utility>

namespace {

// Beyond these the cell is not worked out (the asymmetric unit is drawn as it stands): the atoms
// in one cell, and the images of them that the search for bonds looks at. Real crystals stay far
// below (a zeolite's cell holds a few thousand atoms, the largest frameworks' some ten thousand).
constexpr std::size_t kMostCellAtoms = 200000;
constexpr std::size_t kMostImages = 1000000;
// Nor where its atoms are packed more densely than any real crystal's (diamond has 5.7 Å^3 to an
// atom), or the search for bonds would look at more pairs of atoms than this, or an atom would
// have more bonds: only a broken or hostile file.
constexpr double kLeastVolumePerAtom = 2;
constexpr std::size_t kMostPairs = 30000000;
constexpr std::size_t kMostBonds = 48;
// Two atoms are bonded where they are closer than this times the sum of their covalent radii:
// enough for the bonds of metals and salts, whose radii are larger than covalent ones, and short
// of the contacts between molecules (hydrogen bonds, stacking).
constexpr double kBonded = 1.2;
// Images of a site closer than this (Å) are one atom, on a special position.
constexpr double kSamePlace = 0.4;
// Atoms closer than this times the sum of their covalent radii are alternatives of each other:
// the less occupied is left out with the minor part.
constexpr double kOverlapping = 0.75;
// A network whose cell holds fewer atoms than this is drawn 2 x 2 x 2 cells.
constexpr std::size_t kFewAtoms = 8;
// How far (Å) an atom may lie outside the cell and still count as on its face.
constexpr double kOnFace = 0.05;

using Shift = std::array<int, 3>;

double Radius(int element) {
  return gemmi::covalent_radius(element > 0 && element <= 118 ? static_cast<gemmi::El>(element)
                                                              : gemmi::El::X);
}

bool IsIdentity(const gemmi::Op& op) {
  return op.rot == gemmi::Op::identity().rot &&
         gemmi::Op(op).wrap().tran == gemmi::Op::identity().tran;
}

double Wrapped(double u) {
  const double inside = u - std::floor(u);
  return inside < 1 ? inside : 0;  // -1e-17 less its floor rounds to 1
}

// The sites of the major part: of each disorder assembly, the group of the highest mean occupancy
// (the first where they are equal), with the sites that are not disordered.
std::vector<CrystalSite> MajorPart(std::vector<CrystalSite> sites) {
  std::map<std::pair<std::string, int>, std::pair<double, int>> groups;  // occupancy, sites
  for (const CrystalSite& site : sites) {
    if (site.disorder_group) {
      auto& group = groups[{site.disorder_assembly, site.disorder_group}];
      group.first += site.occupancy;
      ++group.second;
    }
  }
  std::map<std::string, std::pair<int, double>> major;  // of each assembly: group, occupancy
  for (const auto& [key, group] : groups) {
    const double mean = group.first / group.second;
    const auto [it, first] = major.try_emplace(key.first, key.second, mean);
    if (!first && mean > it->second.second) {
      it->second = {key.second, mean};
    }
  }
  sites.erase(std::remove_if(sites.begin(), sites.end(),
                             [&](const CrystalSite& site) {
                               return site.disorder_group &&
                                      major[site.disorder_assembly].first != site.disorder_group;
                             }),
              sites.end());
  return sites;
}

// An atom of the cell: the image of a site under an operation, moved into the cell.
struct CellAtom {
  gemmi::Fractional where;  // each coordinate in [0, 1)
  std::size_t site;
  std::size_t operation;  // The first that gives it; 0 is the identity.
  bool left_out = false;  // the minor part where it overlaps another atom
};

// A bond from one atom of the cell to the image of another in the cell `shift` away.
struct Bond {
  std::uint32_t to;
  Shift shift;
};

// An atom of the cell moved into the cell `shift` away.
struct Image {
  gemmi::Fractional where;
  std::uint32_t atom;
  Shift shift;
};

class Cell {
 public:
  Cell(const Crystal& crystal, std::vector<CrystalSite> sites)
      : crystal_(crystal), sites_(std::move(sites)) {}

  // The images of every site, each once. False where there would be too many.
  bool Fill(const std::vector<gemmi::Op>& operations) {
    if (sites_.size() * operations.size() > kMostCellAtoms) {
      return false;
    }
    for (std::size_t s = 0; s < sites_.size(); ++s) {
      const std::size_t first = atoms_.size();
      for (std::size_t o = 0; o < operations.size(); ++o) {
        const gemmi::Fractional& f = sites_[s].where;
        const std::array<double, 3> image = operations[o].apply_to_xyz({f.x, f.y, f.z});
        const gemmi::Fractional where(Wrapped(image[0]), Wrapped(image[1]), Wrapped(image[2]));
        const bool seen = std::any_of(
            atoms_.begin() + static_cast<std::ptrdiff_t>(first), atoms_.end(),
            [&](const CellAtom& atom) {
              gemmi::Fractional apart = where - atom.where;
              apart = apart - gemmi::Fractional(std::round(apart.x), std::round(apart.y),
                                                std::round(apart.z));
              return crystal_.cell.orthogonalize_difference(apart).length_sq() <
                     kSamePlace * kSamePlace;
            });
        if (!seen) {
          atoms_.push_back({where, s, o});
        }
      }
    }
    if (crystal_.cell.volume < kLeastVolumePerAtom * static_cast<double>(atoms_.size())) {
      return false;
    }
    // Each site's images in an order of their own, whatever the order of the operations: the
    // asymmetric unit's atom first, the others by where they are.
    const auto key = [](const CellAtom& atom) {
      return std::make_tuple(atom.site, atom.operation != 0, std::lround(atom.where.x * 1e6),
                             std::lround(atom.where.y * 1e6), std::lround(atom.where.z * 1e6));
    };
    std::sort(atoms_.begin(), atoms_.end(),
              [&](const CellAtom& a, const CellAtom& b) { return key(a) < key(b); });
    return true;
  }

  // Bonds between the atoms, across the cell's faces too, and the minor part of overlapping
  // atoms left out. False where there would be too many images to look at.
  bool Bind() {
    double longest = 0;  // The longest bond there can be.
    for (const CrystalSite& site : sites_) {
      longest = std::max(longest, 2 * kBonded * Radius(site.element));
    }
    // How far, in fractions of each edge, a bond can reach across a face: the cell's width
    // between the faces is 1 / a*.
    const double reach[3] = {longest * crystal_.cell.ar, longest * crystal_.cell.br,
                             longest * crystal_.cell.cr};
    std::size_t images = 0;
    for (const CellAtom& atom : atoms_) {
      std::size_t count = 1;
      for (int a = 0; a < 3; ++a) {
        if (!(reach[a] < static_cast<double>(kMostImages))) {
          return false;
        }
        count *= static_cast<std::size_t>(Last(atom.where.at(a), reach[a]) -
                                          First(atom.where.at(a), reach[a]) + 1);
      }
      images += count;
      if (images > kMostImages) {
        return false;
      }
    }
    // The images of the atoms within reach of the cell, in bins no narrower than the reach, so
    // that an atom's neighbours lie in its own bin and those beside it.
    int bins[3];
    double bin_size[3];
    for (int a = 0; a < 3; ++a) {
      const double span = 1 + 2 * reach[a];
      bins[a] = static_cast<int>(std::clamp(std::floor(span / reach[a]), 1.0, 64.0));
      bin_size[a] = span / bins[a];
    }
    const auto bin = [&](const gemmi::Fractional& where) {
      std::size_t b = 0;
      for (int a = 0; a < 3; ++a) {
        const int along = static_cast<int>((where.at(a) + reach[a]) / bin_size[a]);
        b = b * static_cast<std::size_t>(bins[a]) +
            static_cast<std::size_t>(std::clamp(along, 0, bins[a] - 1));
      }
      return b;
    };
    const auto each_image = [&](const auto& take) {
      for (std::uint32_t i = 0; i < atoms_.size(); ++i) {
        const gemmi::Fractional& f = atoms_[i].where;
        for (int x = First(f.x, reach[0]); x <= Last(f.x, reach[0]); ++x) {
          for (int y = First(f.y, reach[1]); y <= Last(f.y, reach[1]); ++y) {
            for (int z = First(f.z, reach[2]); z <= Last(f.z, reach[2]); ++z) {
              take(Image{f + gemmi::Fractional(x, y, z), i, {x, y, z}});
            }
          }
        }
      }
    };
    std::vector<std::size_t> starts(static_cast<std::size_t>(bins[0] * bins[1] * bins[2]) + 1);
    each_image([&](const Image& image) { ++starts[bin(image.where) + 1]; });
    for (std::size_t b = 1; b < starts.size(); ++b) {
      starts[b] += starts[b - 1];
    }
    std::vector<Image> binned(images);
    std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
    each_image([&](const Image& image) { binned[next[bin(image.where)]++] = image; });

    bonds_.assign(atoms_.size(), {});
    std::size_t pairs = 0;
    for (std::uint32_t i = 0; i < atoms_.size(); ++i) {
      int home[3];
      for (int a = 2, b = static_cast<int>(bin(atoms_[i].where)); a >= 0; --a) {
        home[a] = b % bins[a];
        b /= bins[a];
      }
      for (int x = std::max(home[0] - 1, 0); x <= std::min(home[0] + 1, bins[0] - 1); ++x) {
        for (int y = std::max(home[1] - 1, 0); y <= std::min(home[1] + 1, bins[1] - 1); ++y) {
          for (int z = std::max(home[2] - 1, 0); z <= std::min(home[2] + 1, bins[2] - 1); ++z) {
            const std::size_t b = (static_cast<std::size_t>(x) * static_cast<std::size_t>(bins[1]) +
                                   static_cast<std::size_t>(y)) *
                                      static_cast<std::size_t>(bins[2]) +
                                  static_cast<std::size_t>(z);
            pairs += starts[b + 1] - starts[b];
            if (pairs > kMostPairs) {
              return false;
            }
            for (std::size_t k = starts[b]; k < starts[b + 1]; ++k) {
              Meet(i, binned[k]);
            }
          }
        }
      }
      if (bonds_[i].size() > kMostBonds) {
        return false;
      }
    }
    return true;
  }

  // Each extended network or molecule: its atoms, each with the cell it lies in.
  struct Part {
    std::vector<std::pair<std::uint32_t, Shift>> atoms;
    bool extended = false;  // It reaches an image of one of its own atoms in another cell.
  };
  std::vector<Part> Parts() const {
    std::vector<Part> parts;
    std::vector<bool> reached(atoms_.size());
    std::vector<Shift> shifts(atoms_.size());
    for (std::uint32_t root = 0; root < atoms_.size(); ++root) {
      if (reached[root] || atoms_[root].left_out) {
        continue;
      }
      Part part;
      reached[root] = true;
      shifts[root] = {0, 0, 0};
      part.atoms.push_back({root, shifts[root]});
      for (std::size_t k = 0; k < part.atoms.size(); ++k) {
        const std::uint32_t from = part.atoms[k].first;
        for (const Bond& bond : bonds_[from]) {
          if (atoms_[bond.to].left_out) {
            continue;
          }
          const Shift shift = {shifts[from][0] + bond.shift[0], shifts[from][1] + bond.shift[1],
                               shifts[from][2] + bond.shift[2]};
          if (!reached[bond.to]) {
            reached[bond.to] = true;
            shifts[bond.to] = shift;
            part.atoms.push_back({bond.to, shift});
          } else if (shifts[bond.to] != shift) {
            part.extended = true;
          }
        }
      }
      parts.push_back(std::move(part));
    }
    return parts;
  }

  const std::vector<CellAtom>& atoms() const { return atoms_; }
  // The pairs of atoms that overlap (each counted twice).
  std::size_t overlaps() const { return overlaps_; }
  // Those of them equally occupied, each both ways.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& alternatives() const {
    return alternatives_;
  }
  std::size_t sites() const { return sites_.size(); }
  const CrystalSite& site(std::uint32_t atom) const { return sites_[atoms_[atom].site]; }

  Atom At(std::uint32_t atom, const gemmi::Fractional& where) const {
    const gemmi::Position position = crystal_.cell.orthogonalize(where);
    return {position.x, position.y, position.z, site(atom).element, site(atom).label, 0};
  }

 private:
  // The cells, along an edge, whose images of a coordinate u of the cell lie within `reach` of it.
  static int First(double u, double reach) { return static_cast<int>(std::ceil(-reach - u)); }
  static int Last(double u, double reach) { return static_cast<int>(std::floor(1 + reach - u)); }

  // Atom i and an image near it: a bond, or the less occupied left out where they overlap.
  void Meet(std::uint32_t i, const Image& image) {
    if (image.atom == i && image.shift == Shift{0, 0, 0}) {
      return;
    }
    const CellAtom& a = atoms_[i];
    const CellAtom& b = atoms_[image.atom];
    const double radii = Radius(sites_[a.site].element) + Radius(sites_[b.site].element);
    const double distance_sq =
        crystal_.cell.orthogonalize_difference(image.where - a.where).length_sq();
    if (distance_sq >= kBonded * kBonded * radii * radii) {
      return;
    }
    if (distance_sq < kOverlapping * kOverlapping * radii * radii) {
      ++overlaps_;
      // The less occupied is the minor part. Equals are symmetry's images of a site on a
      // special position, or the file does not say which is the minor part: the molecule is
      // drawn in the orientation that the asymmetric unit gives it.
      const double occupancy[2] = {sites_[a.site].occupancy, sites_[b.site].occupancy};
      if (occupancy[0] != occupancy[1]) {
        atoms_[occupancy[0] < occupancy[1] ? i : image.atom].left_out = true;
        return;
      }
      alternatives_.emplace_back(i, image.atom);
    }
    // Atoms of a disorder group numbered below zero lie on a special position, their symmetry's
    // images on their own alternatives: no bond joins them to another image.
    if ((sites_[a.site].disorder_group < 0 || sites_[b.site].disorder_group < 0) &&
        a.operation != b.operation) {
      return;
    }
    bonds_[i].push_back({image.atom, image.shift});
  }

  const Crystal& crystal_;
  std::vector<CrystalSite> sites_;
  std::vector<CellAtom> atoms_;
  std::vector<std::vector<Bond>> bonds_;
  std::size_t overlaps_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> alternatives_;
};

// The space group's operations with the identity first.
std::vector<gemmi::Op> IdentityFirst(std::vector<gemmi::Op> operations) {
  const auto identity = std::find_if(operations.begin(), operations.end(), IsIdentity);
  if (identity != operations.end()) {
    operations.erase(identity);
  }
  operations.insert(operations.begin(), gemmi::Op::identity());
  return operations;
}

// A network: every atom of `cells` x `cells` x `cells` cells, those on their faces, edges and
// corners on each.
std::vector<Atom> Network(const Cell& cell, const gemmi::UnitCell& unit_cell) {
  const auto shown = std::count_if(cell.atoms().begin(), cell.atoms().end(),
                                   [](const CellAtom& atom) { return !atom.left_out; });
  const int cells = static_cast<std::size_t>(shown) < kFewAtoms ? 2 : 1;
  const double on_face[3] = {kOnFace * unit_cell.ar, kOnFace * unit_cell.br,
                             kOnFace * unit_cell.cr};
  std::vector<Atom> atoms;
  for (std::uint32_t i = 0; i < cell.atoms().size(); ++i) {
    const CellAtom& atom = cell.atoms()[i];
    if (atom.left_out) {
      continue;
    }
    int from[3], to[3];
    for (int a = 0; a < 3; ++a) {
      from[a] = atom.where.at(a) > 1 - on_face[a] ? -1 : 0;
      to[a] = atom.where.at(a) < on_face[a] ? cells : cells - 1;
    }
    for (int x = from[0]; x <= to[0]; ++x) {
      for (int y = from[1]; y <= to[1]; ++y) {
        for (int z = from[2]; z <= to[2]; ++z) {
          atoms.push_back(cell.At(i, atom.where + gemmi::Fractional(x, y, z)));
        }
      }
    }
  }
  return atoms;
}

// Discrete molecules: each once, whole, where the asymmetric unit has it.
std::vector<Atom> Molecules(const Cell& cell, const std::vector<Cell::Part>& parts) {
  std::vector<std::size_t> part_of(cell.atoms().size(), parts.size());
  for (std::size_t p = 0; p < parts.size(); ++p) {
    for (const auto& atom : parts[p].atoms) {
      part_of[atom.first] = p;
    }
  }
  std::vector<bool> drawn(cell.sites());
  std::vector<Atom> atoms;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const Cell::Part& part = parts[p];
    if (std::all_of(part.atoms.begin(), part.atoms.end(),
                    [&](const auto& atom) { return drawn[cell.atoms()[atom.first].site]; })) {
      continue;
    }
    // The molecule is moved where the file's own coordinates of its first atom put it.
    const CellAtom& first = cell.atoms()[part.atoms.front().first];
    gemmi::Fractional move;
    if (first.operation == 0) {
      const gemmi::Fractional given = cell.site(part.atoms.front().first).where - first.where;
      move = gemmi::Fractional(std::round(given.x), std::round(given.y), std::round(given.z));
    }
    // A molecule on a special position whose symmetry it lacks is disordered over the images
    // that overlap it: those images are left out, the first atom's orientation drawn.
    std::vector<std::size_t> alternative;
    for (const auto& [a, b] : cell.alternatives()) {
      const CellAtom& one = cell.atoms()[a];
      const CellAtom& other = cell.atoms()[b];
      if (part_of[a] == p && one.operation == first.operation &&
          other.operation != first.operation) {
        alternative.push_back(other.operation);
      }
    }
    for (const auto& [atom, shift] : part.atoms) {
      const CellAtom& cell_atom = cell.atoms()[atom];
      drawn[cell_atom.site] = true;
      if (std::find(alternative.begin(), alternative.end(), cell_atom.operation) ==
          alternative.end()) {
        atoms.push_back(cell.At(
            atom, cell_atom.where + move + gemmi::Fractional(shift[0], shift[1], shift[2])));
      }
    }
  }
  return atoms;
}

}  // namespace

std::size_t Overlaps(const Crystal& crystal) {
  Cell cell(crystal, MajorPart(crystal.sites));
  return cell.Fill(IdentityFirst(crystal.operations)) && cell.Bind()
             ? cell.overlaps()
             : std::numeric_limits<std::size_t>::max();
}

std::vector<Atom> CrystalAtoms(const Crystal& crystal) {
  const std::vector<CrystalSite> sites = MajorPart(crystal.sites);
  Cell cell(crystal, sites);
  if (!cell.Fill(IdentityFirst(crystal.operations)) || !cell.Bind()) {
    std::vector<Atom> atoms;
    for (const CrystalSite& site : sites) {
      const gemmi::Position position = crystal.cell.orthogonalize(site.where);
      atoms.push_back({position.x, position.y, position.z, site.element, site.label, 0});
    }
    return atoms;
  }
  const std::vector<Cell::Part> parts = cell.Parts();
  const bool network = std::any_of(parts.begin(), parts.end(),
                                   [](const Cell::Part& part) { return part.extended; }) ||
                       std::all_of(parts.begin(), parts.end(),
                                   [](const Cell::Part& part) { return part.atoms.size() == 1; });
  return network ? Network(cell, crystal.cell) : Molecules(cell, parts);
}
