// What a picture shows of a crystal whose file gives the atoms of its asymmetric unit, its cell
// and its symmetry: the whole of what the asymmetric unit stands for, as chemists draw it. Which
// picture is decided by the bonds (covalent radii, across the cell's faces too), not by how many
// atoms there are:
// - an extended network (a salt, a metal, a silicate, a framework: bonds that run on from cell
//   to cell) is drawn as one unit cell, with the atoms on its faces, edges and corners, or as
//   2 x 2 x 2 cells where one holds only a few atoms;
// - discrete molecules (an organic crystal) are drawn each once and whole, completed by the
//   symmetry where the asymmetric unit holds part of one.
// Of a disordered structure, the major part: the more occupied disorder group of each assembly,
// and of atoms that would overlap, the more occupied.

#ifndef THUMBNAILS_CRYSTAL_H_
#define THUMBNAILS_CRYSTAL_H_

#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>
#include <string>
#include <vector>

#include "thumbnails/structure.h"

struct CrystalSite {
  gemmi::Fractional where;
  int element = 0;
  Name label;
  double occupancy = 1;
  std::string disorder_assembly;
  int disorder_group = 0;  // 0 where the site is not disordered
};

struct Crystal {
  gemmi::UnitCell cell;
  std::vector<gemmi::Op> operations;  // all of the space group's, with the centring translations
  std::vector<CrystalSite> sites;     // the asymmetric unit
};

// The atoms to draw, in Ångström, named by their sites' labels. Where the cell would hold too
// many atoms to be worked out (more than 200,000), or holds them more densely than a real
// crystal, the asymmetric unit's.
std::vector<Atom> CrystalAtoms(const Crystal& crystal);

// How many atoms of the crystal's cell overlap another (closer than any bond), as a space group's
// operations for another origin than the file's make them do.
std::size_t Overlaps(const Crystal& crystal);

#endif  // THUMBNAILS_CRYSTAL_H_
