// A simulation's periodic box, and the structure in it drawn whole. A simulation keeps each atom in
// its box: a molecule that crossed a face is written in pieces on opposite sides, and the molecules
// lie anywhere in it, a protein about a corner, a vesicle cut in eight. Moving an atom by an edge
// of the box changes nothing in the simulation, and so changes nothing in the picture.

#ifndef THUMBNAILS_BOX_H_
#define THUMBNAILS_BOX_H_

#include <array>
#include <functional>
#include <vector>

#include "thumbnails/meaning.h"
#include "thumbnails/structure.h"
#include "thumbnails/vector.h"

// The images of a point: the point moved by whole edges of a box.
class Lattice {
 public:
  explicit Lattice(const Box& box) : box_(box) {}

  // The edges (i, j, k), whole numbers, to move the difference `d` of two points by, d - i a - j b
  // - k c, for the shortest difference between their images (for a difference shorter than half the
  // box across, as within a molecule, the shortest of all).
  std::array<double, 3> Nearest(Vector d) const;
  // The point (i, j, k) edges away from the origin: i a + j b + k c.
  Vector Edges(const std::array<double, 3>& counts) const;
  // `p` as i a + j b + k c: (i, j, k).
  std::array<double, 3> Fractions(const Vector& p) const;

 private:
  Box box_;
};

// Joins what the box split, in `at`, the positions of the atoms of `structure`, moving atoms by
// whole edges of the box: each atom to the image nearest the atom before it in its residue, and
// each residue to the image where its first atom comes nearest the first of the residue before
// (residues are smaller than half the box). Residues one after the other are one molecule where
// two of their atoms that may bond (`bonds`) lie within `reach(r)` of each other, r the second
// residue. (Of the first residue its last 64 such atoms are taken, of the second its first 4:
// residues list first the atom that bonds to the residue before, N of an amino acid, P of a
// nucleotide, and a residue that bonds to the next lists it among its last atoms.) Returns each
// atom's molecule, numbered from 0 in the file's order.
std::vector<int> Rejoin(const Lattice& lattice, const Structure& structure,
                        const std::vector<char>& bonds,
                        const std::function<double(std::size_t)>& reach, std::vector<Vector>* at);

// Moves each molecule of `atoms` (those of the same `molecule`) by whole edges of the box to bring
// them all into one box-shaped region, where they are drawn together: along each edge, where the
// atoms leave a gap (water that is not drawn around a vesicle), from the gap's middle; else
// (a membrane's plane) with the largest molecule at its middle. The largest molecule stays where
// it is.
void Gather(const Lattice& lattice, const std::vector<int>& molecule, std::vector<Shown>* atoms);

#endif  // THUMBNAILS_BOX_H_
