// What each atom of a structure is, for its picture: part of a polymer chain (protein or nucleic
// acid), of a ligand or other hetero group, of a lipid, of water or a bulk ion; its element, where
// the file does not state it, from its name as the residue it belongs to names it; and its size. A
// coarse-grained model's beads (Martini's, or alpha carbons alone) are told from atoms, and a
// simulation's box from a crystal's cell, so that each is drawn as it is.

#ifndef THUMBNAILS_MEANING_H_
#define THUMBNAILS_MEANING_H_

#include <vector>

#include "thumbnails/structure.h"

enum class Part : unsigned char { kPolymer, kLigand, kLipid, kWater, kIon };

struct Shown {
  float x = 0, y = 0, z = 0;  // Ångström, to a thousandth across a micrometre.
  int element = 0;            // The atomic number; 0 where none can be told.
  Part part = Part::kLigand;
  int chain = -1;    // A polymer's chain, numbered from 0 in the file's order; -1 for other parts.
  float radius = 0;  // Ångström: the element's van der Waals radius, or a bead's.
};

// The radius of a coarse-grained model's beads: half the 4.7 Å at which Martini's meet.
inline constexpr float kBeadRadius = 2.35f;

// The atoms a picture of `structure` shows, in the file's order: all but the water and bulk ions,
// where it holds anything else, which then take no part in the picture; never the virtual sites of
// force fields (a water model's M or MW, the lone pairs LP and EP), which are no atoms.
//
// A file is coarse-grained where it names residues and its particles lie, as the median, 2.5 Å
// or more from their nearest neighbours (a bond between atoms is 1 to 1.5 Å long; Martini's beads
// lie 3 to 5 Å apart, a chain's alpha carbons 3.8 Å). Its particles are beads of kBeadRadius, of no
// element but where the file states one, named as Martini names them: W, WF and PW its water,
// ION its residue of ions (NA+, CL-).
//
// In a simulation's box, what the box split is drawn whole: each residue, each molecule (residues
// that bonds join: atoms other than hydrogen 2 Å apart or less, or a coarse-grained chain's beads
// 6 Å apart or less) and all the molecules together (thumbnails/box.h).
//
// A residue is a polymer's where a table names it an amino acid or nucleotide, or it has the
// backbone of one (N, CA and C; P, O5' and C5'), in a chain of more than one residue. Chains are
// told by their identifiers; where all are the same, by their segments; where those are too, by
// where the polymer breaks: at a TER record, where the residue number goes back, or where the next
// residue does not continue the backbone (its N more than 2.5 Å from the C before, or its P from
// the O3'), unless the number jumps, as it does over residues a crystal structure lacks.
std::vector<Shown> AtomsToShow(const Structure& structure);

#endif  // THUMBNAILS_MEANING_H_
