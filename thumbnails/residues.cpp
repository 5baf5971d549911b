#include "thumbnails/residues.h"

#include <algorithm>
#include <gemmi/resinfo.hpp>
#include <string>
#include <unordered_map>

#include "thumbnails/text.h"

namespace {

// `name` in capitals; empty where it holds anything but printable ASCII, which names no residue
// (and which gemmi's table would shift as negative numbers).
std::string Capitals(std::string_view name) {
  std::string capitals(name);
  for (char& c : capitals) {
    if (c < ' ' || c > '~') {
      return {};
    }
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return capitals;
}

// The names of the force fields, of each kind, separated by spaces.
constexpr std::pair<ResidueKind, std::string_view> kForceFieldNames[] = {
    // Protonation states of histidine, cysteine, aspartate, glutamate, lysine, arginine and
    // tyrosine; the caps that end a chain.
    {ResidueKind::kAminoAcid,
     "HSD HSE HSP HID HIE HIP HISA HISB HISD HISE HISH HISP HIS1 HIS2 CYX CYM CYS1 CYS2 CYSH ASH "
     "ASPH ASPP GLH GLUH GLUP LYN LSN LYSH LYSN ARN ARGN TYM ACE NME NMA NHE NH2"},
    // CHARMM's nucleotides; AMBER's follow a rule of their own (IsAmberNucleotide).
    {ResidueKind::kNucleotide, "ADE GUA CYT THY URA"},
    {ResidueKind::kWater,
     "SOL WAT TIP TIP3 TIP4 TIP5 TP3 TP4 TP5 T3P T4P T4E T5P SPC SPCE SPE OPC OPC3 SWM SWM4 SWM6 "
     "HO4 H2O"},
    // CHARMM's, Slipids' and AMBER's Lipid21 (whose heads and tails are residues of their own).
    {ResidueKind::kLipid,
     "POPC POPE POPS POPG POPA POPI POP DPPC DPPE DPPG DPPS DPP DMPC DMPE DMPG DMP DLPC DLPE DLPG "
     "DLP DOPC DOPE DOPG DOPS DOP DSPC DSPE DSP SAPC SDPC SOPC PLPC SAP SDP SOP PLP PSM SSM CHL1 "
     "CHOL CHL PA PC PE PS PGR OL LA MY ST AR DHA"}};

const std::unordered_map<std::string_view, ResidueKind>& ForceFieldNames() {
  static const std::unordered_map<std::string_view, ResidueKind> names = [] {
    std::unordered_map<std::string_view, ResidueKind> table;
    for (const auto& [kind, list] : kForceFieldNames) {
      for (const std::string_view name : text::Fields(list)) {
        table.emplace(name, kind);
      }
    }
    return table;
  }();
  return names;
}

// AMBER's nucleotides: DA, RA or A (C, G, T, U alike), with 5 or 3 at a chain's ends, N alone.
bool IsAmberNucleotide(std::string_view name) {
  const bool sugar = !name.empty() && (name.front() == 'D' || name.front() == 'R');
  name.remove_prefix(sugar ? 1 : 0);
  return !name.empty() && name.size() <= 2 &&
         std::string_view("ACGTU").find(name.front()) != std::string_view::npos &&
         (name.size() == 1 || name[1] == '5' || name[1] == '3' || (sugar && name[1] == 'N'));
}

// The kind of a residue of the name `capitals` that a table names, else kOther.
ResidueKind Tabulated(const std::string& capitals) {
  const auto& names = ForceFieldNames();
  if (const auto found = names.find(capitals); found != names.end()) {
    return found->second;
  }
  if (IsAmberNucleotide(capitals)) {
    return ResidueKind::kNucleotide;
  }
  const gemmi::ResidueInfo info = gemmi::find_tabulated_residue(capitals);
  return info.is_amino_acid()     ? ResidueKind::kAminoAcid
         : info.is_nucleic_acid() ? ResidueKind::kNucleotide
         : info.is_water()        ? ResidueKind::kWater
                                  : ResidueKind::kOther;
}

}  // namespace

ResidueKind KindOfResidue(std::string_view name) {
  const std::string capitals = Capitals(name);
  if (capitals.empty()) {
    return ResidueKind::kOther;
  }
  const ResidueKind kind = Tabulated(capitals);
  // AMBER's and GROMOS's chain ends: an amino acid's name after N or C ("NALA", "CHIE").
  const bool end = kind == ResidueKind::kOther && capitals.size() == 4 &&
                   (capitals[0] == 'N' || capitals[0] == 'C') &&
                   Tabulated(capitals.substr(1)) == ResidueKind::kAminoAcid;
  return end ? ResidueKind::kAminoAcid : kind;
}

ResidueKind KindOfCoarseResidue(std::string_view name) {
  const std::string capitals = Capitals(name);
  return capitals == "W" || capitals == "WF" || capitals == "PW" ? ResidueKind::kWater
                                                                 : KindOfResidue(name);
}

int ElementOfIon(std::string_view residue, std::string_view atom) {
  static const std::unordered_map<std::string_view, int> names = {
      {"SOD", 11}, {"POT", 19}, {"CLA", 17}, {"CAL", 20}, {"CES", 55},
      {"LIT", 3},  {"RUB", 37}, {"BAR", 56}, {"ZN2", 30}, {"IOD", 53}};
  const std::string capitals = Capitals(residue);
  if (const auto found = names.find(capitals); found != names.end()) {
    return found->second;
  }
  return capitals == "ION"                      ? text::ElementOfSymbol(atom)
         : !capitals.empty() && residue == atom ? text::ElementOfSymbol(residue)
                                                : 0;
}

bool IsBulkIon(int element) {
  constexpr int kSalt[] = {3, 9, 11, 17, 19, 35, 37, 53, 55};  // Li F Na Cl K Br Rb I Cs
  return std::find(std::begin(kSalt), std::end(kSalt), element) != std::end(kSalt);
}

std::string_view MetalOf(std::string_view residue) {
  static const std::unordered_map<std::string_view, std::string_view> metals = {
      {"HEM", "FE"}, {"HEME", "FE"}, {"HEC", "FE"}, {"HEA", "FE"}, {"HEB", "FE"}, {"HEO", "FE"},
      {"HAS", "FE"}, {"SRM", "FE"},  {"SF4", "FE"}, {"FES", "FE"}, {"F3S", "FE"}, {"CLA", "MG"},
      {"BCL", "MG"}, {"B12", "CO"},  {"CNC", "CO"}, {"COB", "CO"}, {"CUA", "CU"}, {"F43", "NI"}};
  const auto found = metals.find(Capitals(residue));
  return found == metals.end() ? std::string_view() : found->second;
}
