// What each atom of a structure is, for its picture: part of a polymer chain (protein or nucleic
// acid), of a ligand or other hetero group, of a lipid, of water or a bulk ion; and its element,
// where the file does not state it, from its name as the residue it belongs to names it.

#ifndef THUMBNAILS_MEANING_H_
#define THUMBNAILS_MEANING_H_

#include <vector>

#include "thumbnails/structure.h"

enum class Part : unsigned char { kPolymer, kLigand, kLipid, kWater, kIon };

struct Shown {
  float x = 0, y = 0, z = 0;  // Ångström, to a thousandth across a micrometre.
  int element = 0;            // The atomic number; 0 where none can be told.
  Part part = Part::kLigand;
  int chain = -1;  // A polymer's chain, numbered from 0 in the file's order; -1 for other parts.
};

// The atoms a picture of `structure` shows, in the file's order: all but the water and bulk ions,
// where it holds anything else, which then take no part in the picture; never the virtual sites of
// force fields (a water model's M or MW, the lone pairs LP and EP), which are no atoms.
//
// A residue is a polymer's where a table names it an amino acid or nucleotide, or it has the
// backbone of one (N, CA and C; P, O5' and C5'), in a chain of more than one residue. Chains are
// told by their identifiers; where all are the same, by their segments; where those are too, by
// where the polymer breaks: at a TER record, where the residue number goes back, or where the next
// residue does not continue the backbone (its N more than 2.5 Å from the C before, or its P from
// the O3'), unless the number jumps, as it does over residues a crystal structure lacks.
std::vector<Shown> AtomsToShow(const Structure& structure);

#endif  // THUMBNAILS_MEANING_H_
