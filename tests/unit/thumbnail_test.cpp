#include "thumbnails/thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  const std::vector<Atom>& atoms = structure.atoms;
  ASSERT_EQ(atoms.size(), 3u);
  EXPECT_EQ(Census(AtomsToShow(structure)), Census(std::string("CClO")));
  const auto distance = [&](const Atom& p) {
    return std::hypot(p.x - atoms[0].x, p.y - atoms[0].y, p.z - atoms[0].z);
  };
  // Half the diagonal of a face of the cell, by the law of cosines.
  const auto half_diagonal = [](double p, double q, double angle) {
    return std::sqrt(p * p + q * q + 2 * p * q * std::cos(angle * M_PI / 180)) / 2;
  };
  EXPECT_NEAR(distance(atoms[1]), half_diagonal(5, 7, 120), 1e-9);
  EXPECT_NEAR(distance(atoms[2]), half_diagonal(6, 7, 80), 1e-9);
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

// Real structures of Debian's packages: PDB entries (rdkit-data, mustang-testdata), and OpenMM's
// solvated systems, lipid bilayers and water boxes (python3-simtk, unpacked by tools/install-deps).
const fs::path kEntries = "/usr/share/RDKit/Contrib/CalcLigRMSD/data";
const fs::path kProteins = "/usr/share/doc/mustang-testdata/examples/pdbs";
const fs::path kSystems =
    "/opt/orbedo-test-data/python3-simtk/usr/lib/python3/dist-packages/openmm/app/data";

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
  int serial = 0;
  const struct {
    fs::path file;
    std::function<std::string(const std::string&)> change;
    bool pictured;
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
      {kSystems / "tip4pew.pdb",  // TIP4P-Ew's virtual sites deleted
       [](const std::string& file) {
         return EachAtom(file, [](std::string& line) { line = line[13] == 'M' ? "" : line; });
       },
       true},
      {kSystems / "test.pdb",  // frames ended by END alone, beyond 64 MiB
       [](const std::string& file) { return Beyond64MiB(Frame(file) + "END\n"); }, true},
      {kSystems / "test.pdb", [](const std::string& file) { return Beyond64MiB(Frame(file)); },
       false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string file = Slurp(cases[i].file);
    const std::optional<Picture> picture = Thumbnail(file, 160);
    const std::optional<Picture> changed = Thumbnail(cases[i].change(file), 160);
    ASSERT_TRUE(picture) << cases[i].file;
    EXPECT_TRUE(changed ? cases[i].pictured && changed->pixels == picture->pixels
                        : !cases[i].pictured)
        << "case " << i << ", " << cases[i].file;
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
    }
  }
  EXPECT_EQ(real, 28u + 15u + 12u);
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

bool Looks(std::uint32_t pixel, int channel) {
  const int c[3] = {static_cast<int>(pixel >> 16 & 0xFF), static_cast<int>(pixel >> 8 & 0xFF),
                    static_cast<int>(pixel & 0xFF)};
  return pixel >> 24 == 0xFF && c[channel] > 2 * c[(channel + 1) % 3] &&
         c[channel] > 2 * c[(channel + 2) % 3];
}

Picture Draw(const std::vector<Shown>& atoms, int side) {
  return DrawAtoms(atoms, ViewOf(atoms), side);
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
  EXPECT_EQ(Draw(std::vector<Shown>(200000, Shown{0, 0, 0, 6}), 1000).width, 1000);
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
