// A molecular structure as its thumbnail needs it: where each atom is and which element it is,
// read from the bytes of a file in one of the coordinate formats. Explorer hands a thumbnail
// handler the file's content and never its name, so the format is told by the content alone.

#ifndef THUMBNAILS_STRUCTURE_H_
#define THUMBNAILS_STRUCTURE_H_

#include <cstddef>
#include <string_view>
#include <vector>

struct Atom {
  double x = 0, y = 0, z = 0;  // Ångström
  int element = 0;             // The atomic number; 0 where the file does not tell.
};
using Atoms = std::vector<Atom>;

// The largest file that is read: beyond it, whatever the content, there is no thumbnail.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;

// The atoms of the first model, frame or record of a PDB, PQR, mmCIF or CIF, GRO, XYZ, or MOL or
// SD file, in the file's order. Empty when the bytes are none of these or hold no atom, or a
// coordinate that is not a number or lies beyond a million Ångström.
Atoms ReadStructure(std::string_view file);

// The readers themselves, for a file known to be of their format. Each throws std::runtime_error
// where the bytes do not hold what the format promises.
Atoms ReadPdb(std::string_view file);  // fixed columns, by gemmi
Atoms ReadCif(std::string_view file);  // mmCIF, or a small-molecule CIF, by gemmi
Atoms ReadPqr(std::string_view file);  // fields separated by white space
Atoms ReadGro(std::string_view file);
Atoms ReadXyz(std::string_view file);
Atoms ReadMol(std::string_view file);  // MOL and SD, V2000 and V3000

#endif  // THUMBNAILS_STRUCTURE_H_
