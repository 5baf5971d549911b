#include "thumbnails/box.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The atoms of two residues compared to tell whether a bond joins them: of the first, its last 64
// that may bond; of the second, its first 4 (N of an amino acid, P of a nucleotide...).
constexpr std::size_t kMostBefore = 64, kMostAfter = 4;

// The bins of the atoms' places along an edge of the box, to find where they leave a gap: one
// that holds less than a twentieth of an even share is empty.
constexpr std::size_t kBins = 64;
constexpr double kEmpty = 1.0 / 20;

// The whole number nearest `x`, and the largest not above it, for |x| below 2^52 (a box's edges
// over 10 Å, a structure within a million Ångström): the library's functions are calls.
double Rounded(double x) {
  const double whole = static_cast<double>(static_cast<long long>(x));
  return whole + (x - whole >= 0.5 ? 1 : x - whole <= -0.5 ? -1 : 0);
}
double Floor(double x) {
  const double whole = static_cast<double>(static_cast<long long>(x));
  return whole > x ? whole - 1 : whole;
}

double Wrapped(double fraction) { return fraction - Floor(fraction); }

// Where along an edge, as a fraction of it, the region of Gather begins, of atoms at `fractions`
// along it (their places in the box) and the largest molecule's middle at `largest`: the middle
// of the longest run of empty bins, else opposite the largest molecule.
double Cut(const std::vector<double>& fractions, double largest) {
  std::array<std::size_t, kBins> counts{};
  for (const double fraction : fractions) {
    ++counts[std::min(kBins - 1, static_cast<std::size_t>(Wrapped(fraction) * kBins))];
  }
  const auto empty = [&](std::size_t bin) {
    return static_cast<double>(counts[bin % kBins]) * kBins <
           kEmpty * static_cast<double>(fractions.size());
  };
  // The longest run, going round the edge from a bin that is not empty (an even share or more
  // is in one).
  std::size_t full = 0;
  while (empty(full)) {
    ++full;
  }
  std::size_t best_start = 0, best_length = 0, start = 0, length = 0;
  for (std::size_t bin = full + 1; bin <= full + kBins; ++bin) {
    start = length == 0 ? bin : start;
    length = empty(bin) ? length + 1 : 0;
    if (length > best_length) {
      best_start = start, best_length = length;
    }
  }
  return best_length > 0
             ? Wrapped((static_cast<double>(best_start) + static_cast<double>(best_length) / 2) /
                       kBins)
             : Wrapped(largest + 0.5);
}

}  // namespace

std::array<double, 3> Lattice::Nearest(Vector d) const {
  // Edge c alone reaches out of the xy plane, and a alone along x besides b.
  const double k = Rounded(d.z / box_.c[2]);
  d = d - Edges({0, 0, k});
  const double j = Rounded(d.y / box_.b[1]);
  d = d - Edges({0, j, 0});
  return {Rounded(d.x / box_.a[0]), j, k};
}

Vector Lattice::Edges(const std::array<double, 3>& counts) const {
  const Box& b = box_;
  return {counts[0] * b.a[0] + counts[1] * b.b[0] + counts[2] * b.c[0],
          counts[1] * b.b[1] + counts[2] * b.c[1], counts[2] * b.c[2]};
}

std::array<double, 3> Lattice::Fractions(const Vector& p) const {
  const double k = p.z / box_.c[2];
  const double j = (p.y - k * box_.c[1]) / box_.b[1];
  return {(p.x - k * box_.c[0] - j * box_.b[0]) / box_.a[0], j, k};
}

std::vector<int> Rejoin(const Lattice& lattice, const Structure& structure,
                        const std::vector<char>& bonds,
                        const std::function<double(std::size_t)>& reach, std::vector<Vector>* at) {
  const std::vector<Atom>& atoms = structure.atoms;
  std::vector<Vector>& p = *at;
  const auto move = [&](std::size_t first, std::size_t end, const std::array<double, 3>& edges) {
    if (edges != std::array<double, 3>{}) {
      const Vector by = lattice.Edges(edges);
      for (std::size_t i = first; i < end; ++i) {
        p[i] = p[i] - by;
      }
    }
  };
  std::vector<int> molecule(atoms.size());
  int molecules = -1;
  std::size_t last_first = 0, last_end = 0;
  std::vector<Vector> before, after;  // The atoms of each residue that may bond.
  for (std::size_t first = 0, end = 0; first < atoms.size(); first = end) {
    for (end = first + 1; end < atoms.size() && atoms[end].residue == atoms[first].residue; ++end) {
      move(end, end + 1, lattice.Nearest(p[end] - p[end - 1]));
    }
    // Whole, the residue is moved next to the one before, and bonded to it where two of their
    // atoms lie within reach.
    bool joined = false;
    if (last_end > 0) {
      move(first, end, lattice.Nearest(p[first] - p[last_first]));
      const double longest = reach(atoms[first].residue);
      before.clear(), after.clear();
      for (std::size_t i = last_end; i > last_first && before.size() < kMostBefore; --i) {
        if (bonds[i - 1]) {
          before.push_back(p[i - 1]);
        }
      }
      for (std::size_t j = first; j < end && after.size() < kMostAfter; ++j) {
        if (bonds[j]) {
          after.push_back(p[j]);
        }
      }
      for (std::size_t i = 0; i < before.size() && !joined && longest > 0; ++i) {
        for (const Vector& q : after) {
          const Vector d = q - before[i];
          joined = joined || Dot(d, d) <= longest * longest;
        }
      }
    }
    molecules += joined ? 0 : 1;
    std::fill(molecule.begin() + static_cast<std::ptrdiff_t>(first),
              molecule.begin() + static_cast<std::ptrdiff_t>(end), molecules);
    last_first = first, last_end = end;
  }
  return molecule;
}

void Gather(const Lattice& lattice, const std::vector<int>& molecule, std::vector<Shown>* atoms) {
  if (atoms->empty()) {
    return;
  }
  const std::size_t count =
      static_cast<std::size_t>(*std::max_element(molecule.begin(), molecule.end())) + 1;
  std::vector<Vector> middles(count);
  std::vector<std::size_t> sizes(count);
  std::array<std::vector<double>, 3> fractions;
  for (std::size_t i = 0; i < atoms->size(); ++i) {
    const Shown& atom = (*atoms)[i];
    const Vector p = {atom.x, atom.y, atom.z};
    const auto m = static_cast<std::size_t>(molecule[i]);
    middles[m] = middles[m] + p;
    ++sizes[m];
    const std::array<double, 3> f = lattice.Fractions(p);
    for (std::size_t axis = 0; axis < 3; ++axis) {
      fractions[axis].push_back(f[axis]);
    }
  }
  std::vector<std::array<double, 3>> places(count);
  for (std::size_t m = 0; m < count; ++m) {
    places[m] = lattice.Fractions((1.0 / static_cast<double>(std::max<std::size_t>(sizes[m], 1))) *
                                  middles[m]);
  }
  const std::size_t largest =
      static_cast<std::size_t>(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
  std::array<double, 3> cuts;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    cuts[axis] = Cut(fractions[axis], places[largest][axis]);
  }
  const auto edges = [&](std::size_t m) {
    std::array<double, 3> counts;
    for (std::size_t axis = 0; axis < 3; ++axis) {
      counts[axis] = Floor(places[m][axis] - cuts[axis]);
    }
    return counts;
  };
  const std::array<double, 3> kept = edges(largest);
  for (std::size_t i = 0; i < atoms->size(); ++i) {
    std::array<double, 3> moved = edges(static_cast<std::size_t>(molecule[i]));
    for (std::size_t axis = 0; axis < 3; ++axis) {
      moved[axis] -= kept[axis];
    }
    if (moved != std::array<double, 3>{}) {
      Shown& atom = (*atoms)[i];
      const Vector p = Vector{atom.x, atom.y, atom.z} - lattice.Edges(moved);
      atom.x = static_cast<float>(p.x), atom.y = static_cast<float>(p.y),
      atom.z = static_cast<float>(p.z);
    }
  }
}
