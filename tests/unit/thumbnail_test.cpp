#include "thumbnails/thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "thumbnails/meaning.h"
#include "thumbnails/picture.h"
#include "thumbnails/preview.h"
#include "thumbnails/structure.h"
#include "thumbnails/text.h"
#include "thumbnails/whole_stream.h"

namespace {

namespace fs = std::filesystem;

// Open Babel's conversions of Debian's molecules (tests/unit/make_structure_files).
const fs::path kFiles = std::getenv("STRUCTURE_FILES") ? std::getenv("STRUCTURE_FILES") : "";

std::string Slurp(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// An atom where it is, and its element.
struct Point {
  double x, y, z;
  int element;
};
template <typename Atoms>
std::vector<Point> Points(const Atoms& atoms) {
  std::vector<Point> points;
  for (const auto& atom : atoms) {
    points.push_back({atom.x, atom.y, atom.z, atom.element});
  }
  return points;
}

std::vector<Atom> Molecule(const std::string& name) {
  return ReadMol(Slurp(kFiles / "mol" / (name + ".mol"))).atoms;
}

// The number of atoms of each element: of atoms, and of a formula such as C16H13ClN2O.
template <typename Atoms>
std::map<int, int> Census(const Atoms& atoms) {
  std::map<int, int> census;
  for (const auto& atom : atoms) {
    ++census[atom.element];
  }
  return census;
}
std::map<int, int> Census(const std::string& formula) {
  std::map<int, int> census;
  const std::regex element("([A-Z][a-z]?)([0-9]*)");
  for (std::sregex_iterator i(formula.begin(), formula.end(), element), end; i != end; ++i) {
    census[text::ElementOfSymbol((*i)[1].str())] += (*i)[2].length() ? std::stoi((*i)[2]) : 1;
  }
  return census;
}

// All that a reader tells of each atom and its residue.
std::string Listing(const Structure& structure) {
  std::ostringstream out;
  out.precision(17);
  for (const Atom& atom : structure.atoms) {
    const Residue& residue = structure.residues.at(atom.residue);
    out << atom.x << ' ' << atom.y << ' ' << atom.z << ' ' << atom.element << ' '
        << atom.name.view() << ' ' << atom.residue << ' ' << residue.name.view() << ' '
        << residue.number.value_or(-99999) << ' ' << residue.chain.view() << ' '
        << residue.segment.view() << ' ' << residue.after_ter << '\n';
  }
  return out.str();
}

// The same atoms, give or take `tolerance` Ångström, in any order.
bool Same(const std::vector<Point>& a, std::vector<Point> b, double tolerance) {
  for (const Point& p : a) {
    const auto match = std::find_if(b.begin(), b.end(), [&](const Point& q) {
      return p.element == q.element && std::abs(p.x - q.x) <= tolerance &&
             std::abs(p.y - q.y) <= tolerance && std::abs(p.z - q.z) <= tolerance;
    });
    if (match == b.end()) {
      return false;
    }
    b.erase(match);
  }
  return b.empty();
}

TEST(ReadStructure, ReadsEveryMoleculeInEveryFormatAsOpenBabelReportsIt) {
  const struct {
    const char* folder;
    const char* extension;
    Structure (*reader)(std::string_view);
  } formats[] = {{"pdb", "pdb", ReadPdb},     {"pqr", "pqr", ReadPqr}, {"cif", "cif", ReadCif},
                 {"mmcif", "mmcif", ReadCif}, {"gro", "gro", ReadGro}, {"mol", "mol", ReadMol},
                 {"sd", "sd", ReadMol},       {"sdf", "sdf", ReadMol}, {"xyz", "xyz", ReadXyz},
                 {"v3000", "mol", ReadMol}};
  std::ifstream reference(kFiles / "reference.tsv");
  std::map<std::string, int> read;
  int molecules = 0;
  for (std::string name, count, formula; reference >> name >> count >> formula; ++molecules) {
    // The formula counts the hydrogens that the file leaves implicit too: with the atom count, its
    // other elements tell the file's hydrogens.
    const std::vector<Point> expected = Points(Molecule("_" + name));
    std::map<int, int> held = Census(expected), reported = Census(formula);
    held.erase(1), reported.erase(1);
    ASSERT_EQ(expected.size(), std::stoul(count)) << name;
    ASSERT_EQ(held, reported) << name;
    for (const auto& format : formats) {
      const fs::path path = kFiles / format.folder / ("_" + name + "." + format.extension);
      if (!fs::exists(path)) {
        continue;  // A molecule that Open Babel's GRO writer crashes on.
      }
      const std::string file = Slurp(path);
      // GRO has a hundredth of an Ångström, PDB and PQR a thousandth. Elements the file does not
      // state, as the names tell them.
      EXPECT_TRUE(Same(Points(AtomsToShow(format.reader(file))), expected, 0.0051)) << path;
      EXPECT_TRUE(Same(Points(AtomsToShow(ReadStructure(file))), expected, 0.0051)) << path;
      ++read[format.folder];
    }
  }
  EXPECT_GT(molecules, 500);
  for (const auto& format : formats) {
    EXPECT_GE(read[format.folder], molecules - 2) << format.folder;
  }
}

TEST(ReadStructure, TakesTheFirstModelAndReadsWhatFixedColumnsWouldMiss) {
  const std::string pdb_atom =
      "ATOM      1  CA  ALA A   1       1.000   2.000   3.000  1.00  0.00           C\n";
  const std::pair<std::string, std::vector<Point>> cases[] = {
      {"MODEL 1\n" + pdb_atom + "ENDMDL\nMODEL 2\n" + pdb_atom + pdb_atom + "ENDMDL\n",
       {{1, 2, 3, 6}}},
      {"2\nfirst\nO 0 0 0\nH 1 0 0\n1\nsecond\nC 5 5 5\n", {{0, 0, 0, 8}, {1, 0, 0, 1}}},
      {pdb_atom + "END\n" + pdb_atom, {{1, 2, 3, 6}}},
      {"t\n1\n    1SOL     OW    1   0.100   0.200   0.300\n 1 1 1\nt\n1\n"
       "    1SOL     OW    1   9.000   9.000   9.000\n 1 1 1\n",
       {{1, 2, 3, 0}}},
      {"a\n b\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n    1.0000    2.0000    3.0000 Br"
       "  0  0\nM  END\n$$$$\nb\n\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
       "    9.0000    9.0000    9.0000 C   0  0\nM  END\n$$$$\n",
       {{1, 2, 3, 35}}},
      {"data_m\nloop_\n_atom_site.type_symbol\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
       "_atom_site.Cartn_z\n_atom_site.pdbx_PDB_model_num\nFE 1 2 3 1\nN 4 5 6 1\nC 7 8 9 2\n",
       {{1, 2, 3, 26}, {4, 5, 6, 7}}},
      // PQR with the chain field and wide numbers: nothing where PDB's columns would be.
      {"ATOM      1  CA  GLY A    1  -11.500  1002.25 3.125  -0.1234 1.9080\n"
       "ATOM 2 NA NA 2 4 5 6 1.0 1.5\nATOM 3 CL CL B 3 7 8 9 -1.0 1.9\n",
       {{-11.5, 1002.25, 3.125, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}},
  };
  for (const auto& [file, atoms] : cases) {
    EXPECT_TRUE(Same(Points(ReadStructure(file).atoms), atoms, 1e-9)) << file;
  }
}

TEST(ReadStructure, TurnsFractionalCoordinatesCartesianThroughTheCell) {
  const Structure structure = ReadStructure(
      "data_cell\n_cell_length_a 5.0\n_cell_length_b 6.00(2)\n_cell_length_c 7\n"
      "_cell_angle_alpha 80\n_cell_angle_beta 120\n_cell_angle_gamma 90\nloop_\n"
      "_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n"
      "C1 0 0 0\nO1 0.5 0 0.5\nCl1 0 0.5 0.5\n");
  // Three lone atoms are a lattice, whose cell of three is drawn 2 x 2 x 2 with the atoms on the
  // faces, edges and corners.
  EXPECT_EQ(Census(AtomsToShow(structure)), Census(std::string("C27Cl12O12")));
  const auto nearest = [&](int element) {
    double least = INFINITY;
    for (const Atom& p : structure.atoms) {
      least = p.element == element ? std::min(least, std::hypot(p.x, p.y, p.z)) : least;
    }
    return least;
  };
  // Half the diagonal of a face of the cell, by the law of cosines.
  const auto half_diagonal = [](double p, double q, double angle) {
    return std::sqrt(p * p + q * q + 2 * p * q * std::cos(angle * M_PI / 180)) / 2;
  };
  EXPECT_NEAR(nearest(8), half_diagonal(5, 7, 120), 1e-9);
  EXPECT_NEAR(nearest(17), half_diagonal(6, 7, 80), 1e-9);
}

TEST(ReadStructure, RefusesWhatIsNoStructure) {
  std::string noise(4096, '\0');
  unsigned seed = 1;
  for (char& byte : noise) {
    byte = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  }
  for (const std::string& file :
       {std::string(), std::string("Dear reader,\n\nthis is a letter.\n"), noise,
        std::string("Microsoft C/C++ MSF 7.00\r\n\x1a"
                    "DS"),
        std::string("3\ncut short\nC 0 0 0\n"), std::string("1\n\nC 0 nan 0\n"),
        std::string("1\n\nC 0 1e300 0\n"), std::string("t\n99999999\n")}) {
    EXPECT_TRUE(ReadStructure(file).atoms.empty()) << file;
  }
}

TEST(ReadStructure, ReadsAQuarterOfAMillionAtoms) {
  std::string pdb;
  char line[82];
  for (int i = 0; i < 250000; ++i) {
    std::snprintf(
        line, sizeof line, "ATOM  %5d  CA  ALA A%4d    %8.3f%8.3f%8.3f  1.00  0.00           %c\n",
        i % 100000, i / 10 % 10000, i % 97 * 1.5, i % 89 * 1.1, i % 83 * 0.7, "CNOS"[i % 4]);
    pdb += line;
  }
  const std::vector<Atom> atoms = ReadStructure(pdb).atoms;
  ASSERT_EQ(atoms.size(), 250000u);
  EXPECT_EQ(Census(atoms)[16], 62500);
  EXPECT_EQ(Thumbnail(pdb, 256)->width, 256);
}

// Whether pixel (x, y) of `p` has a like (no channel more than an eighth apart) within a pixel of
// where it falls in `q`, centred on `p`.
bool HasLike(const Picture& p, int x, int y, const Picture& q) {
  for (int n = 0; n < 9; ++n) {
    const int qx = x + (q.width - p.width) / 2 + n % 3 - 1;
    const int qy = y + (q.height - p.height) / 2 + n / 3 - 1;
    if (qx < 0 || qy < 0 || qx >= q.width || qy >= q.height) {
      continue;
    }
    const std::uint32_t u = p.pixels[static_cast<std::size_t>(y * p.width + x)];
    const std::uint32_t v = q.pixels[static_cast<std::size_t>(qy * q.width + qx)];
    bool like = true;
    for (int c = 0; c < 32; c += 8) {
      like =
          like && std::abs(static_cast<int>(u >> c & 255) - static_cast<int>(v >> c & 255)) <= 32;
    }
    if (like) {
      return true;
    }
  }
  return false;
}
// Whether `a` and `b` are a few pixels apart at most: of each one's pixels, 3 % at most have no
// like in the other.
bool Alike(const Picture& a, const Picture& b) {
  const auto unlike = [](const Picture& p, const Picture& q) {
    std::size_t count = 0;
    for (int i = 0; i < p.width * p.height; ++i) {
      count += !HasLike(p, i % p.width, i / p.width, q);
    }
    return count * 100 / p.pixels.size();
  };
  return unlike(a, b) < 3 && unlike(b, a) < 3;
}

bool Looks(std::uint32_t pixel, int channel) {
  const int c[3] = {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF),
                    static_cast<int>(pixel & 0xFF)};
  return pixel >> 24 == 0xFF && c[channel] > 2 * c[(channel + 1) % 3] &&
         c[channel] > 2 * c[(channel + 2) % 3];
}

Picture Draw(const std::vector<Shown>& atoms, int side) {
  return DrawAtoms(atoms, ViewOf(atoms), side);
}

// The mean brightness of a picture's opaque pixels next to a clear one, its outline, and of the
// others: its fill.
std::pair<double, double> OutlineAndFill(const Picture& picture) {
  double sum[2] = {}, count[2] = {};
  const auto opaque = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < picture.width && y < picture.height &&
           picture.pixels[static_cast<std::size_t>(y * picture.width + x)] >> 24 == 0xFF;
  };
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint32_t p = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
      if (opaque(x, y)) {
        const bool edge =
            !opaque(x - 1, y) || !opaque(x + 1, y) || !opaque(x, y - 1) || !opaque(x, y + 1);
        sum[edge] += (p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF);
        ++count[edge];
      }
    }
  }
  return {sum[1] / count[1], sum[0] / count[0]};
}
// The colours of a picture as shading leaves them (each scaled to its brightest channel), among
// its bright opaque pixels, that cover a 50th of them at least.
std::size_t Hues(const Picture& picture) {
  std::map<int, int> hues;
  int bright = 0;
  for (const std::uint32_t p : picture.pixels) {
    const int c[3] = {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                      static_cast<int>(p & 0xFF)};
    const int most = std::max({c[0], c[1], c[2]});
    if (p >> 24 == 0xFF && most >= 64) {
      ++bright;
      ++hues[(c[0] * 8 / most) << 8 | (c[1] * 8 / most) << 4 | (c[2] * 8 / most)];
    }
  }
  return static_cast<std::size_t>(std::count_if(
      hues.begin(), hues.end(), [&](const auto& hue) { return hue.second * 50 >= bright; }));
}

// Real structures of Debian's packages: PDB entries (rdkit-data, mustang-testdata), and OpenMM's
// solvated systems, lipid bilayers and water boxes (python3-simtk, unpacked by tools/install-deps).
const fs::path kEntries = "/usr/share/RDKit/Contrib/CalcLigRMSD/data";
const fs::path kProteins = "/usr/share/doc/mustang-testdata/examples/pdbs";
const fs::path kSystems =
    "/opt/orbedo-test-data/python3-simtk/usr/lib/python3/dist-packages/openmm/app/data";
// Crystals of the Crystallography Open Database (python3-pyobjcryst's tests, unpacked by
// tools/install-deps) and of gdis-data: salts, metals, oxides, organic molecular crystals.
const fs::path kCrystals =
    "/opt/orbedo-test-data/python3-pyobjcryst/usr/lib/python3/dist-packages/pyobjcryst/tests/"
    "testdata";
const fs::path kMinerals = "/usr/share/gdis/models";
// A box of hexane in atoms and in coarse-grained beads (votca-tutorials, unpacked likewise).
const fs::path kHexane =
    "/opt/orbedo-test-data/votca-tutorials/usr/share/votca/csg-tutorials/hexane";

// `file` with each line changed by `change`, and left out where it empties it.
std::string EachLine(const std::string& file, const std::function<void(std::string&)>& change) {
  std::istringstream lines(file);
  std::string changed;
  for (std::string line; std::getline(lines, line);) {
    change(line);
    changed += line.empty() ? "" : line + '\n';
  }
  return changed;
}
// `file` with each atom record, made 80 columns, changed by `change`.
std::string EachAtom(const std::string& file, const std::function<void(std::string&)>& change) {
  return EachLine(file, [&](std::string& line) {
    if (text::IsAtomRecord(line)) {
      line.resize(std::max<std::size_t>(line.size(), 80), ' ');
      change(line);
    }
  });
}
std::string Frame(const std::string& file) {
  return EachLine(file, [](std::string& line) { line = text::IsAtomRecord(line) ? line : ""; });
}
std::string Beyond64MiB(const std::string& frame) {
  std::string file;
  while (file.size() <= kMaxFileBytes) {
    file += frame;
  }
  return file;
}
// A ligand of a PDB file as the PDB's dictionary of it holds it: ideal coordinates, those of a
// model elsewhere, and an atom without coordinates.
std::string AsDictionary(const std::string& pdb) {
  std::string cif = "data_ACP\nloop_\n";
  for (const char* tag :
       {"comp_id", "atom_id", "type_symbol", "model_Cartn_x", "model_Cartn_y", "model_Cartn_z",
        "pdbx_model_Cartn_x_ideal", "pdbx_model_Cartn_y_ideal", "pdbx_model_Cartn_z_ideal"}) {
    cif += std::string("_chem_comp_atom.") + tag + '\n';
  }
  EachAtom(pdb, [&](std::string& line) {
    const std::string x = line.substr(30, 8), y = line.substr(38, 8), z = line.substr(46, 8);
    cif += "ACP " + line.substr(12, 4) + line.substr(76, 2) + " 0 0 0 " + x + y + z + '\n';
  });
  return cif + "ACP X1 C ? ? ? ? ? ?\n";
}

// lidocainementhol.cif with each site doubled by an alternative a third of an Ångström along c,
// occupied 0.4 to the site's 0.6: as disorder groups, or by the occupancies alone.
std::string Disordered(const std::string& cif, bool groups) {
  bool sites = false;
  return EachLine(cif, [&](std::string& line) {
    std::vector<std::string> f(11);
    std::istringstream row(line);
    if (line == "_atom_site_refinement_flags") {
      line += groups ? "\n_atom_site_disorder_group" : "", sites = true;
    } else if (sites && row >> f[0] >> f[1] >> f[2] >> f[3] >> f[4] >> f[5] >> f[6] >> f[7] >>
                            f[8] >> f[9] >> f[10]) {
      const auto site = [&](const std::string& z, const char* occupancy, const char* group) {
        return f[0] + ' ' + f[1] + ' ' + f[2] + ' ' + f[3] + ' ' + z + ' ' + f[5] + ' ' + f[6] +
               ' ' + occupancy + ' ' + f[8] + ' ' + f[9] + ' ' + f[10] + (groups ? group : "");
      };
      const double z = *text::Number(f[4].substr(0, f[4].find('('))) + 0.015;
      line = site(f[4], "0.6", " 1") + '\n' + site(std::to_string(z), "0.4", " 2");
    } else {
      sites = sites && line != "loop_";
    }
  });
}
// `pdb` with each atom's position (x, y, z) changed by `move`, which sees its record too.
std::string EachPosition(const std::string& pdb,
                         const std::function<void(std::array<double, 3>&, std::string&)>& move) {
  return EachAtom(pdb, [&](std::string& line) {
    std::array<double, 3> p;
    for (std::size_t i = 0; i < 3; ++i) {
      p[i] = std::stod(line.substr(30 + 8 * i, 8));
    }
    move(p, line);
    char columns[32];
    std::snprintf(columns, sizeof columns, "%8.3f%8.3f%8.3f", p[0], p[1], p[2]);
    line.replace(30, 24, columns);
  });
}
// A CRYST1's edges (an orthorhombic box).
std::array<double, 3> Edges(const std::string& pdb) {
  const std::string cryst1 = pdb.substr(pdb.find("CRYST1"), 33);
  return {std::stod(cryst1.substr(6, 9)), std::stod(cryst1.substr(15, 9)),
          std::stod(cryst1.substr(24, 9))};
}
std::string Unboxed(const std::string& pdb) {
  return EachLine(pdb,
                  [](std::string& line) { line = text::StartsWith(line, "CRYST1") ? "" : line; });
}
// A copy turned rigidly by Euler's angles: `a` about z, `b` about x and `c` about z again (no box
// is turned so).
std::function<std::string(const std::string&)> Turned(double a, double b, double c) {
  const double r[3][3] = {{cos(a) * cos(c) - sin(a) * cos(b) * sin(c),
                           -cos(a) * sin(c) - sin(a) * cos(b) * cos(c), sin(a) * sin(b)},
                          {sin(a) * cos(c) + cos(a) * cos(b) * sin(c),
                           -sin(a) * sin(c) + cos(a) * cos(b) * cos(c), -cos(a) * sin(b)},
                          {sin(b) * sin(c), sin(b) * cos(c), cos(b)}};
  return [=](const std::string& pdb) {
    return EachPosition(Unboxed(pdb), [&](std::array<double, 3>& p, std::string&) {
      const std::array<double, 3> q = p;
      for (std::size_t i = 0; i < 3; ++i) {
        p[i] = r[i][0] * q[0] + r[i][1] * q[1] + r[i][2] * q[2];
      }
    });
  };
}
// Turned a third of the way round the diagonal of its box, (x, y, z) to (y, z, x), box and all.
std::string Cycled(const std::string& pdb) {
  const std::array<double, 3> e = Edges(pdb);
  char cryst1[64];
  std::snprintf(cryst1, sizeof cryst1, "CRYST1%9.3f%9.3f%9.3f  90.00  90.00  90.00 P 1", e[1], e[2],
                e[0]);
  return cryst1 + std::string("\n") +
         EachPosition(Unboxed(pdb), [](std::array<double, 3>& p, std::string&) {
           std::rotate(p.begin(), p.begin() + 1, p.end());
         });
}
// Atoms moved by whole edges of the box: each into the box (moved by half the box before), as
// simulation programs write atoms one by one, splitting molecules at its faces; or those of the
// residue `residue` by `edges`.
std::string Wrapped(const std::string& pdb) {
  const std::array<double, 3> e = Edges(pdb);
  return EachPosition(pdb, [&](std::array<double, 3>& p, std::string&) {
    for (std::size_t i = 0; i < 3; ++i) {
      p[i] += e[i] / 2 - e[i] * std::floor((p[i] + e[i] / 2) / e[i]);
    }
  });
}
std::function<std::string(const std::string&)> Moved(int residue, std::array<double, 3> edges) {
  return [=](const std::string& pdb) {
    const std::array<double, 3> e = Edges(pdb);
    return EachPosition(pdb, [&](std::array<double, 3>& p, std::string& line) {
      for (std::size_t i = 0; i < 3 && std::stoi(line.substr(22, 4)) == residue; ++i) {
        p[i] += edges[i] * e[i];
      }
    });
  };
}
// A GRO file's atoms each moved into its box.
std::string GroWrapped(const std::string& gro) {
  std::vector<std::string> lines;
  EachLine(gro, [&](std::string& line) { lines.push_back(line); });
  const std::vector<std::string_view> box = text::Fields(lines.back());
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
      const double edge = std::stod(std::string(box[axis]));
      const double x = std::stod(lines[i].substr(20 + 8 * axis, 8));
      char column[16];
      std::snprintf(column, sizeof column, "%8.3f", x - edge * std::floor(x / edge));
      lines[i].replace(20 + 8 * axis, 8, column);
    }
  }
  std::string wrapped;
  for (const std::string& line : lines) {
    wrapped += line + '\n';
  }
  return wrapped;
}
// The middle of the atoms of `pdb`, its water aside.
std::array<double, 3> Middle(const std::string& pdb) {
  std::array<double, 3> sum{};
  double count = 0;
  EachPosition(pdb, [&](std::array<double, 3>& p, std::string& line) {
    if (line.substr(17, 3) != "HOH") {
      sum = {sum[0] + p[0], sum[1] + p[1], sum[2] + p[2]}, ++count;
    }
  });
  return {sum[0] / count, sum[1] / count, sum[2] / count};
}
// `inner` placed in the middle of `outer`, whose residues within `clearance` of it are left out.
std::string Embedded(const std::string& inner, const std::string& outer, double clearance) {
  const std::array<double, 3> from = Middle(inner), to = Middle(outer);
  std::vector<std::array<double, 3>> atoms;
  const std::string placed =
      EachPosition(Frame(inner), [&](std::array<double, 3>& p, std::string&) {
        p = {p[0] + to[0] - from[0], p[1] + to[1] - from[1], p[2] + to[2] - from[2]};
        atoms.push_back(p);
      });
  std::set<std::string> met;
  EachPosition(outer, [&](std::array<double, 3>& p, std::string& line) {
    for (const std::array<double, 3>& q : atoms) {
      if (std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) < clearance) {
        met.insert(line.substr(17, 10));
      }
    }
  });
  return EachLine(outer,
                  [](std::string& line) { line = text::StartsWith(line, "CRYST1") ? line : ""; }) +
         placed + "TER\n" + EachAtom(outer, [&](std::string& line) {
           line = met.count(line.substr(17, 10)) ? "" : line;
         });
}
// Three copies of a protein about an axis, a third of the way round from each other (as many
// trimers are): the two spreads across the axis are equal, and their axes any turn of them.
std::string Trimer(const std::string& pdb) {
  const std::array<double, 3> middle = Middle(pdb);
  std::string trimer;
  for (int copy = 0; copy < 3; ++copy) {
    const double c = std::cos(copy * 2 * M_PI / 3), s = std::sin(copy * 2 * M_PI / 3);
    trimer += EachPosition(Frame(pdb),
                           [&](std::array<double, 3>& p, std::string& line) {
                             const double x = p[0] - middle[0] + 15, y = p[1] - middle[1];
                             p = {c * x - s * y, s * x + c * y, p[2] - middle[2]};
                             line[21] = static_cast<char>('A' + copy);
                           }) +
              "TER\n";
  }
  return trimer;
}
// A coarse-grained copy of a PDB file in a box, as a GRO file of Martini's names: of an amino
// acid, a bead BB of its backbone and one of each four of its side chain's heavy atoms in turn
// (SC1, SC2...); of a lipid, one of each five (NC3, PO4, GL1...); W of four waters; ION of an ion.
std::string Martini(const std::string& pdb) {
  const char* const kLipid[] = {"NC3", "PO4", "GL1", "GL2", "C1A", "D2A",
                                "C3A", "C4A", "C1B", "C2B", "C3B", "C4B"};
  std::map<std::pair<int, std::string>, std::array<double, 4>> beads;  // (residue, name): Σp, n
  std::map<int, std::string> residues;
  std::string last;
  int residue = 0, in_residue = 0, side = 0, waters = 0;
  EachPosition(pdb, [&](std::array<double, 3>& p, std::string& line) {
    const std::string name = std::string(text::Trim(line.substr(12, 4))), kind = line.substr(17, 3);
    if (name[0] == 'H' || std::isdigit(name[0])) {
      return;
    }
    const bool begins = line.substr(17, 10) != last, water = kind == "HOH";
    last = line.substr(17, 10);
    residue += begins && (!water || waters++ % 4 == 0);
    in_residue = begins ? 0 : in_residue + 1;
    side = begins ? 0 : side;
    const bool backbone = name == "N" || name == "CA" || name == "C" || name == "O";
    const std::string bead = water           ? "W"
                             : kind == "Cl " ? "CL-"
                             : kind == "POP" ? kLipid[in_residue / 5]
                             : backbone      ? "BB"
                                             : "SC" + std::to_string(side++ / 4 + 1);
    residues[residue] = water ? "W" : kind == "Cl " ? "ION" : std::string(text::Trim(kind));
    std::array<double, 4>& sum = beads[{residue, bead}];
    sum = {sum[0] + p[0], sum[1] + p[1], sum[2] + p[2], sum[3] + 1};
  });
  std::string gro = "Martini\n" + std::to_string(beads.size()) + "\n";
  char line[64];
  int atom = 0;
  for (const auto& [key, sum] : beads) {
    std::snprintf(line, sizeof line, "%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n", key.first % 100000,
                  residues[key.first].c_str(), key.second.c_str(), ++atom % 100000,
                  sum[0] / sum[3] / 10, sum[1] / sum[3] / 10, sum[2] / sum[3] / 10);
    gro += line;
  }
  const std::array<double, 3> e = Edges(pdb);
  std::snprintf(line, sizeof line, "%10.5f%10.5f%10.5f\n", e[0] / 10, e[1] / 10, e[2] / 10);
  return gro + line;
}

// What real files hold survives what must not change their pictures: the solvent's lines deleted
// (water and bulk ions are hidden), element columns blanked (the names tell the elements), chain
// identifiers blanked (TER records, residue numbers and segments tell the chains), a trajectory's
// frames after the first, the PDB's older layout, the same entry in mmCIF or a ligand's as its
// dictionary holds it; and every real file is pictured, in the right elements.
TEST(Thumbnail, RealFilesKeepTheirPictureThroughWhatMustNotChangeIt) {
  const auto solvent_deleted = [](const std::string& file) {
    return EachAtom(file, [](std::string& line) {
      const std::string_view residue = text::Trim(std::string_view(line).substr(17, 4));
      line = residue == "HOH" || residue == "Cl" ? "" : line;
    });
  };
  const auto elements_blanked = [](const std::string& file) {
    return EachAtom(file, [](std::string& line) { line.replace(76, 2, "  "); });
  };
  const auto chains_blanked = [](const std::string& file) {
    return EachAtom(file, [](std::string& line) { line[21] = ' '; });
  };
  const std::string popc = Slurp(kSystems / "POPC.pdb");
  const auto in_popc = [&](const std::string& protein) { return Embedded(protein, popc, 2.5); };
  int serial = 0;
  const struct {
    fs::path file;
    std::function<std::string(const std::string&)> change;
    bool pictured;
    bool alike = false;  // A few pixels apart, for what turns the atoms.
    std::function<std::string(const std::string&)> made = nullptr;  // The file made of the file.
  } cases[] = {
      {kSystems / "test.pdb", solvent_deleted, true},
      {kSystems / "POPC.pdb", solvent_deleted, true},
      {kEntries / "5dt0.pdb", solvent_deleted, true},
      {kEntries / "5dt0.pdb", elements_blanked, true},
      {kEntries / "aurka_protein_2c6e.pdb", elements_blanked, true},  // AMBER's hydrogens, caps
      {kSystems / "POPC.pdb", elements_blanked, true},  // CHARMM's lipids: HS, HX, C210
      {kEntries / "6c83.pdb", chains_blanked, true},
      {kEntries / "6c83.pdb",
       [&](const std::string& file) {
         return EachLine(chains_blanked(file), [](std::string& line) {
           line = text::StartsWith(line, "TER") ? "" : line;
         });
       },
       true},
      {kEntries / "6c83.pdb",  // CHARMM's and NAMD's segments
       [](const std::string& file) {
         return EachAtom(file, [](std::string& line) {
           line.replace(72, 4, std::string("PRO") + line[21]);
           line[21] = ' ';
         });
       },
       true},
      {kSystems / "test.pdb",  // names from column 13, as CHARMM and NAMD write them
       [](const std::string& file) {
         return EachAtom(file, [](std::string& line) {
           line.replace(12, 4, line[12] == ' ' ? line.substr(13, 3) + ' ' : line.substr(12, 4));
         });
       },
       true},
      {kEntries / "5dt0.pdb",  // the layout of 1993: the entry and the line's serial in 73-80
       [&](const std::string& file) {
         return EachAtom(file, [&](std::string& line) {
           char identification[16];
           std::snprintf(identification, sizeof identification, "5DT0%4d", ++serial % 10000);
           line.replace(72, 8, identification);
         });
       },
       true},
      {kEntries / "6c83.pdb",  // residues numbered from below zero
       [](const std::string& file) {
         return EachAtom(file, [](std::string& line) {
           const std::string number = std::to_string(std::stoi(line.substr(22, 4)) - 600);
           line.replace(26 - number.size(), number.size(), number);
         });
       },
       true},
      {kEntries / "6c83.pdb", [](const std::string&) { return Slurp(kFiles / "mmcif/6c83.cif"); },
       true},
      {kEntries / "5dt0.pdb", [](const std::string&) { return Slurp(kFiles / "mmcif/5dt0.cif"); },
       true},
      {kEntries / "ACP_crystal_aligned_1.pdb", AsDictionary, true},
      {kCrystals / "lidocainementhol.cif",  // the major part of a disorder, by its groups
       [](const std::string& file) { return Disordered(file, true); }, true},
      {kCrystals / "lidocainementhol.cif",  // or by the occupancies alone
       [](const std::string& file) { return Disordered(file, false); }, true},
      {kCrystals / "CaF2_fluorite.cif",  // the space group by its name, and by its number
       [](const std::string& file) {
         return std::regex_replace(file, std::regex("_symmetry_equiv_pos_as_xyz"), "_xyz");
       },
       true},
      {kCrystals / "CaF2_fluorite.cif",
       [](const std::string& file) {
         return std::regex_replace(
             file, std::regex("_symmetry_(equiv_pos_as_xyz|space_group_name)"), "_$1");
       },
       true},
      {kSystems / "tip4pew.pdb",  // TIP4P-Ew's virtual sites deleted
       [](const std::string& file) {
         return EachAtom(file, [](std::string& line) { line = line[13] == 'M' ? "" : line; });
       },
       true},
      {kSystems / "test.pdb",  // frames ended by END alone, beyond 64 MiB
       [](const std::string& file) { return Beyond64MiB(Frame(file) + "END\n"); }, true},
      {kSystems / "test.pdb", [](const std::string& file) { return Beyond64MiB(Frame(file)); },
       false},
      // Whole across the box: atoms split from their molecules at its faces, or moved by its edges.
      {kSystems / "test.pdb", Wrapped, true, true},
      {kSystems / "POPC.pdb", Wrapped, true, true},
      {kHexane / "atomistic/conf.gro", GroWrapped, true, true},  // molecules of 6 residues
      {kSystems / "test.pdb", Moved(10, {1, -1, 0}), true},
      {kSystems / "POPC.pdb", Moved(7, {0, 0, 2}), true},
      // Turned rigidly: a complex; an entry whose picture's height falls a pixel apart; a trimer,
      // whose axes across the axis are any turn of them; a membrane, and a protein in one.
      {kEntries / "6c83.pdb", Turned(0.5, 0.9, 1.2), true, true},
      {kProteins / "1paa.pdb", Turned(0.5, 0.9, 1.2), true, true},
      {kProteins / "1zaa1.pdb", Turned(1.4, 0.2, 0.8), true, true, Trimer},
      {kSystems / "POPC.pdb", Cycled, true, true},
      {kProteins / "1zaa1.pdb", Cycled, true, true, in_popc},
      // A lipid in a crystal structure is no membrane.
      {kEntries / "6c83.pdb",
       [&](const std::string& file) {
         return Embedded(
             Frame(EachAtom(
                 popc, [](std::string& line) { line = line.substr(22, 4) == "   1" ? line : ""; })),
             file, 0);
       },
       true, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string file =
        cases[i].made ? cases[i].made(Slurp(cases[i].file)) : Slurp(cases[i].file);
    const std::optional<Picture> picture = Thumbnail(file, 160);
    const std::optional<Picture> changed = Thumbnail(cases[i].change(file), 160);
    ASSERT_TRUE(picture) << cases[i].file;
    EXPECT_TRUE(changed ? cases[i].pictured && (cases[i].alike ? Alike(*changed, *picture)
                                                               : changed->pixels == picture->pixels)
                        : !cases[i].pictured)
        << "case " << i << ", " << cases[i].file;
  }

  // What is made of real files: membranes seen side-on, their normal (z) up, the lipids before a
  // protein in one left out; coarse-grained copies as beads of no element, Martini's water hidden.
  const struct {
    std::string file;
    std::size_t chains;
    bool beads, membrane, cut;
  } made[] = {
      {popc, 0, false, true, false},
      {in_popc(Slurp(kProteins / "1zaa1.pdb")), 1, false, true, true},
      {Martini(in_popc(Slurp(kProteins / "1zaa1.pdb"))), 1, true, true, true},
      {Martini(Slurp(kSystems / "test.pdb")), 1, true, false, false},
      {EachAtom(Slurp(kEntries / "6c83.pdb"),
                [](std::string& line) { line = line.substr(12, 4) == " CA " ? line : ""; }),
       4, true, false, false},
      {Slurp(kHexane / "ibi_all/conf.gro"), 0, true, false, false},
  };
  for (std::size_t i = 0; i < std::size(made); ++i) {
    std::vector<Shown> atoms = AtomsToShow(ReadStructure(made[i].file));
    const View view = ViewOf(atoms);
    std::set<int> polymer;
    std::size_t beads = 0;
    for (const Shown& atom : atoms) {
      polymer.insert(atom.part == Part::kPolymer ? atom.chain : -1);
      beads += atom.radius == kBeadRadius && atom.element != 5 && atom.element != 74 &&
               atom.element != 84 && atom.part != Part::kWater;
    }
    polymer.erase(-1);
    EXPECT_EQ(polymer.size(), made[i].chains) << "made " << i;
    EXPECT_EQ(beads, made[i].beads ? atoms.size() : 0) << "made " << i;
    EXPECT_EQ(std::abs(view.axes[1].z) > 0.99, made[i].membrane) << "made " << i;
    const auto count = [&](Part part) {
      return std::count_if(atoms.begin(), atoms.end(),
                           [&](const Shown& a) { return a.part == part; });
    };
    const auto lipids = count(Part::kLipid), protein = count(Part::kPolymer);
    LeaveOutWhatHides(view, &atoms);
    EXPECT_EQ(count(Part::kLipid) < lipids, made[i].cut) << "made " << i;
    EXPECT_EQ(count(Part::kPolymer), protein) << "made " << i;
  }

  const std::map<std::string, std::size_t> chains = {
      {"6c83.pdb", 4}, {"5dt0.pdb", 1}, {"test.pdb", 1}, {"POPC.pdb", 0}};
  std::size_t real = 0;
  for (const fs::path& folder : {kEntries, kProteins, kSystems}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (entry.path().extension() != ".pdb") {
        continue;
      }
      ++real;
      const std::string file = Slurp(entry.path());
      EXPECT_TRUE(Thumbnail(file, 64)) << entry.path();
      const std::vector<Shown> atoms = AtomsToShow(ReadStructure(file));
      EXPECT_EQ(Census(atoms).count(0), 0u) << entry.path();
      std::set<int> polymer;
      for (const Shown& atom : atoms) {
        polymer.insert(atom.part == Part::kPolymer ? atom.chain : -1);
      }
      polymer.erase(-1);
      const auto expected = chains.find(entry.path().filename());
      if (expected != chains.end()) {
        EXPECT_EQ(polymer.size(), expected->second) << entry.path();
      }
      // An illustration: a dark outline around its fill, each chain in a colour of its own.
      if (!polymer.empty()) {
        const Picture picture = Draw(atoms, 256);
        const auto [outline, fill] = OutlineAndFill(picture);
        EXPECT_LT(outline, fill / 2) << entry.path();
        EXPECT_EQ(Hues(picture), polymer.size()) << entry.path();
      }
    }
  }
  EXPECT_EQ(real, 28u + 15u + 12u);

  // Crystals: networks as unit cells with the atoms on their faces, edges and corners (rock salt:
  // Na on the 8 corners and 6 faces, Cl on the 12 edges and in the centre; silicon of the other
  // origin has none there; nickel's cell of 4, tiny, as 2 x 2 x 2 cells); molecular crystals as the
  // formula units their files give (paracetamol with methanol or water, lidocaine with menthol,
  // caffeine disordered about a threefold axis), whole and each once; and the ions of ammonium
  // dihydrogen phosphate completed by their sites' symmetry, with one of the hydrogens that two
  // phosphates share.
  const std::pair<fs::path, std::string> crystals[] = {
      {kCrystals / "NaCl.cif", "Na14Cl13"}, {kCrystals / "CaF2_fluorite.cif", "Ca14F8"},
      {kCrystals / "Si.cif", "Si18"},       {kCrystals / "Si_setting2.cif", "Si8"},
      {kCrystals / "Ni.cif", "Ni63"},       {kCrystals / "TiO2_rutile.cif", "Ti35O40"},
      {kCrystals / "paracetamol.cif", ""},  {kCrystals / "paracetamol_monomethanolate.cif", ""},
      {kCrystals / "caffeine.cif", ""},     {kCrystals / "lidocainementhol.cif", ""},
      {kMinerals / "adp1.cif", "NH4PO4H"}};
  for (const auto& [path, formula] : crystals) {
    const std::string file = Slurp(path);
    std::smatch sum;
    std::regex_search(file, sum, std::regex("_chemical_formula_sum +'([^']*)'"));
    EXPECT_EQ(Census(AtomsToShow(ReadStructure(file))), Census(formula.empty() ? sum[1] : formula))
        << path;
  }
  // The atom sites of real mmCIF (rdkit-data's entries as gemmi writes them, Open Babel's
  // molecules) read from the tokens as gemmi's document reads them.
  for (const char* folder : {"mmcif", "cif"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(kFiles / folder)) {
      const std::string file = Slurp(entry.path());
      EXPECT_EQ(Listing(ReadCif(file)), Listing(ReadCifDocument(file))) << entry.path();
    }
  }
}

TEST(ReadWhole, TakesPiecesOfAnySizeUntilAReadGivesNone) {
  const std::string file = Slurp(kFiles / "pdb" / "_diazepam.pdb");
  std::size_t at = 0;
  std::string whole, none, endless;
  // Pieces of 1 to 7 bytes, whatever was asked for, as a stream may give them.
  EXPECT_EQ(ReadWhole(
                [&](char* buffer, std::size_t, std::size_t* got) {
                  *got = std::min(file.size() - at, at % 7 + 1);
                  at += file.copy(buffer, *got, at);
                  return true;
                },
                &whole),
            StreamEnd::kWhole);
  EXPECT_EQ(whole, file);
  EXPECT_EQ(ReadWhole([](char*, std::size_t, std::size_t*) { return false; }, &none),
            StreamEnd::kFailed);
  EXPECT_EQ(
      ReadWhole([](char*, std::size_t size, std::size_t* got) { return *got = size; }, &endless),
      StreamEnd::kTooLarge);
}

TEST(DrawAtoms, FillsItsOwnShapeInTheElementsColoursTheSameEveryTime) {
  const std::vector<Shown> diazepam = AtomsToShow({Molecule("_diazepam"), {{}}});       // Cl, N, O
  const std::vector<Shown> hexane = AtomsToShow({Molecule("_2-methylpentane"), {{}}});  // C, H
  for (const int side : {16, 256, 1000}) {
    const Picture picture = Draw(diazepam, side);
    const int w = picture.width, h = picture.height;
    EXPECT_EQ(std::max(w, h), side);
    ASSERT_EQ(picture.pixels.size(), static_cast<std::size_t>(w * h));
    // Drawn up to a margin of one clear pixel on every side: left, top, right, bottom.
    int drawn[4] = {w, h, -1, -1};
    for (int i = 0; i < w * h; ++i) {
      if (picture.pixels[static_cast<std::size_t>(i)] >> 24) {
        drawn[0] = std::min(drawn[0], i % w), drawn[1] = std::min(drawn[1], i / w);
        drawn[2] = std::max(drawn[2], i % w), drawn[3] = std::max(drawn[3], i / w);
      }
    }
    EXPECT_EQ(std::vector<int>(drawn, drawn + 4), (std::vector<int>{1, 1, w - 2, h - 2})) << side;
  }
  const Picture picture = Draw(diazepam, 256);
  for (const int channel : {0, 1, 2}) {  // Red oxygen, green chlorine, blue nitrogen.
    EXPECT_TRUE(std::any_of(picture.pixels.begin(), picture.pixels.end(),
                            [&](std::uint32_t p) { return Looks(p, channel); }));
    const Picture plain = Draw(hexane, 256);
    EXPECT_FALSE(std::any_of(plain.pixels.begin(), plain.pixels.end(),
                             [&](std::uint32_t p) { return Looks(p, channel); }));
  }
  // A file of many atoms in one place, each sphere filling the picture, is drawn all the same.
  EXPECT_EQ(
      Draw(std::vector<Shown>(200000, Shown{0, 0, 0, 6, Part::kLigand, -1, 1.7f}), 1000).width,
      1000);
  EXPECT_EQ(Draw(diazepam, 256).pixels, picture.pixels);
  EXPECT_NE(Draw(hexane, 256).pixels, picture.pixels);
}

// The preview pane's facts, of one file of each type: the title the file gives itself in the
// format's own place, the formula (Open Babel's) and count of the atoms shown, the file's where it
// holds more, the chains, the method and the resolution.
TEST(Preview, SaysWhatEachFileHolds) {
  const std::string diazepam = "7-Chloro-1-methyl-5-phenyl-1,3-dihydro-2H-1,4-benzodiazepin-2-one";
  const std::string entry =
      "STRUCTURE OF AURORA A (122-403) BOUND TO INHIBITORY MONOBODY MB2 AND "
      "AMPPCP|C3169N822O930P6S10 \u00b7 4,937 atoms \u00b7 4 chains "
      "\u00b7 X-RAY DIFFRACTION, 2.55 \u00c5";
  std::vector<std::pair<fs::path, std::string>> cases = {
      {kEntries / "6c83.pdb", entry},
      {kFiles / "mmcif/6c83.cif", entry},
      {kSystems / "test.pdb", "|C189H293N49O50S \u00b7 582 of 8,867 atoms shown \u00b7 1 chain"}};
  for (const char* type : {"pdb", "pqr", "cif", "mmcif", "gro", "mol", "sd", "sdf", "xyz"}) {
    cases.push_back({kFiles / type / (std::string("_diazepam.") + type),
                     diazepam + "|C16H13ClN2O \u00b7 33 atoms"});
  }
  cases.push_back({kFiles / "v3000/_diazepam.mol", cases.back().second});
  for (const auto& [path, facts] : cases) {
    const std::optional<Preview> preview = Preview::Of(Slurp(path));
    ASSERT_TRUE(preview) << path;
    EXPECT_EQ(preview->facts().title + '|' + preview->facts().summary, facts) << path;
  }
}

// However it is turned, the structure stays whole on the pane's colour, and the picture drawn
// while it turns keeps the pane's shape.
TEST(Preview, KeepsTheStructureWholeInEveryTurn) {
  std::optional<Preview> preview = Preview::Of(Slurp(kEntries / "6c83.pdb"));
  ASSERT_TRUE(preview);
  constexpr std::uint32_t kPane = 0xFF102030;
  std::vector<std::uint32_t> before;
  for (int turn = 0; turn < 6; ++turn) {
    const Picture picture = preview->Draw(150, 100, kPane & 0xFFFFFF);
    int edge = 0, drawn = 0;
    for (int i = 0; i < 150 * 100; ++i) {
      const bool at_edge = i % 150 == 0 || i % 150 == 149 || i < 150 || i >= 150 * 99;
      (at_edge ? edge : drawn) += picture.pixels[static_cast<std::size_t>(i)] != kPane;
    }
    EXPECT_EQ(edge, 0) << turn;
    EXPECT_GT(drawn, 1000) << turn;
    EXPECT_NE(picture.pixels, before) << turn;
    before = picture.pixels;
    preview->TurnBy(0.9, turn * 0.7);
  }
  const Picture moving = preview->DrawMoving(400, 100, 0);
  EXPECT_NEAR(moving.width, 4.0 * moving.height, 4.0);
  EXPECT_GE(moving.height, 25);
}

}  // namespace
