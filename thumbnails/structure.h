// A molecular structure as a file holds it: where each atom is, its name and element where the file
// states them, and the residue, chain and segment it belongs to, read from the bytes of a file in
// one of the coordinate formats. What each atom is (thumbnails/meaning.h) is worked out after.
// Explorer hands a thumbnail handler the file's content and never its name, so the format is told
// by the content alone.

#ifndef THUMBNAILS_STRUCTURE_H_
#define THUMBNAILS_STRUCTURE_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A name as a file gives it to an atom, a residue, a chain or a segment: its first 7 characters
// (files give 4 or 5), kept in place, as a structure has hundreds of thousands of them.
class Name {
 public:
  Name() = default;
  Name(std::string_view text) : size_(static_cast<unsigned char>(std::min(text.size(), kMost))) {
    text.copy(text_, size_);
  }
  std::string_view view() const { return {text_, size_}; }

 private:
  static constexpr std::size_t kMost = 7;
  char text_[kMost] = {};
  unsigned char size_ = 0;
};

struct Residue {
  Name name;                   // "ALA", "TIP3", "Cl"; empty where the format names none.
  std::optional<long> number;  // Where the file numbers it.
  Name chain;                  // The chain identifier (the author's, in mmCIF); empty if none.
  Name segment;                // PDB's columns 73-76, as CHARMM and NAMD write them.
  bool after_ter = false;      // A TER record lies between it and the atoms before it.
};

struct Atom {
  double x = 0, y = 0, z = 0;  // Ångström
  int element = 0;             // The atomic number the file states; 0 where it states none.
  Name name;                   // "CA", "HG1", "OW"; empty where the format names none.
  std::size_t residue = 0;     // Its index in Structure::residues.
};

// The periodic box of a simulation: its edges, in Ångström, a along x and b in the xy plane, as
// GRO writes them and the PDB's CRYST1 orients its cell: a = (ax, 0, 0), b = (bx, by, 0) and
// c = (cx, cy, cz), each of ax, by and cz over 10 Å.
struct Box {
  std::array<double, 3> a, b, c;
};

struct Structure {
  std::vector<Atom> atoms;
  // In the file's order; a residue's atoms follow one another. A format without residues has
  // one, unnamed, for all its atoms.
  std::vector<Residue> residues;
  // Where the file gives one: a GRO file's box, or a PDB file's CRYST1 in space group P 1 (a
  // simulation's box, where a crystal's CRYST1 is its cell, and NMR and cryo-EM entries write a
  // cube of 1 Å).
  std::optional<Box> box = std::nullopt;
  // What the file says of itself, as it says it, where it does: its title (PDB's TITLE, mmCIF's
  // _struct.title, the first line of a MOL or SD record, XYZ's comment, GRO's title), the
  // experimental method, and the resolution in Ångström. (Initialised here, so that a structure
  // may still be written as its atoms and residues alone.)
  std::string title{};
  std::string method{};
  std::optional<double> resolution{};
};

// The largest part of a file that is read.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;

// The atoms of the first model, frame or record of a PDB, PQR, mmCIF or CIF (atom sites or a
// ligand dictionary's coordinates), GRO, XYZ, or MOL or SD file, in the file's order. Empty when
// the bytes are none of these or hold no atom, or a coordinate that is not a number or lies
// beyond a million Ångström. A `file` longer than kMaxFileBytes is taken for the beginning of a
// longer one: its first kMaxFileBytes are read, and give atoms only where they hold the whole
// first model, as a PDB or PQR file shows by its ENDMDL or END, and the other formats, but CIF, by
// their atom counts.
Structure ReadStructure(std::string_view file);

// The readers themselves, for a file known to be of their format. Each throws std::runtime_error
// where the bytes do not hold what the format promises.
Structure ReadPdb(std::string_view file);  // fixed columns
// mmCIF, small-molecule CIF (a crystal's contents, thumbnails/crystal.h) or a dictionary, by
// gemmi, but the atom sites of mmCIF, read from the tokens themselves for speed.
Structure ReadCif(std::string_view file);
// The same read wholly through gemmi's document, slower: what ReadCif is checked against.
Structure ReadCifDocument(std::string_view file);
Structure ReadPqr(std::string_view file);  // fields separated by white space
Structure ReadGro(std::string_view file);
Structure ReadXyz(std::string_view file);
Structure ReadMol(std::string_view file);  // MOL and SD, V2000 and V3000

#endif  // THUMBNAILS_STRUCTURE_H_
