// What a residue's name says it is: the PDB's names of its chemical components, from gemmi's table,
// and the names that the force fields of molecular dynamics (AMBER, CHARMM, GROMOS, OPLS) give the
// same things, which the PDB does not know, each also as the three letters that a PDB reader
// keeps of four ("TIP3" read as "TIP", "POPC" as "POP").

#ifndef THUMBNAILS_RESIDUES_H_
#define THUMBNAILS_RESIDUES_H_

#include <string_view>

enum class ResidueKind { kOther, kAminoAcid, kNucleotide, kWater, kLipid };

// The kind of a residue named `name`, in any case; kOther where no table names it.
ResidueKind KindOfResidue(std::string_view name);

// The kind of a residue of a coarse-grained model named `name`: Martini's water (W, WF, PW; a bead
// for four waters), which would otherwise be tungsten, and what KindOfResidue tells.
ResidueKind KindOfCoarseResidue(std::string_view name);

// The element of an ion, a residue of one atom: named for its element ("NA", "Cl-", "MG2+",
// "ZN2") as its atom is, by a force field's name of its own ("SOD", "CLA", "POT"), or ION, as
// Martini names the residue of each ion ("NA+", "CL-"). 0 where the residue is no ion.
int ElementOfIon(std::string_view residue, std::string_view atom);

// Whether an ion of `element` is one of the salt that a simulation or a crystal is bathed in
// (alkali metals and halides), rather than one that a protein binds (zinc, magnesium, calcium...).
bool IsBulkIon(int element);

// The metal, as its two capitals, that a hetero group known to hold one holds ("FE" in a haem,
// "MG" in a chlorophyll); empty where `residue` holds none.
std::string_view MetalOf(std::string_view residue);

#endif  // THUMBNAILS_RESIDUES_H_
