#include "thumbnails/preview_facts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gemmi/elem.hpp>
#include <map>
#include <set>
#include <string_view>

namespace {

// The most bytes of a line: a pane shows a few hundred characters at most.
constexpr std::size_t kLongestLine = 1000;
constexpr std::string_view kBetween = " \u00b7 ";  // A middle dot between the facts.

// `text` as one line: control characters (a CIF's text field holds line ends) as spaces, runs of
// spaces as one, none at either end, and no more than kLongestLine bytes, cut between characters.
// What is no UTF-8 the pane shows as the replacement character.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    const bool space = static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ';
    if (!space) {
      line += c;
    } else if (!line.empty() && line.back() != ' ') {
      line += ' ';
    }
  }
  if (line.size() > kLongestLine) {
    std::size_t end = kLongestLine;
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
      --end;  // Into a character of several bytes: cut before it.
    }
    line.resize(end);
  }
  while (!line.empty() && line.back() == ' ') {
    line.pop_back();
  }
  return line;
}

// 4937 as "4,937".
std::string Grouped(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, ",");
  }
  return digits;
}

std::string Formula(const std::vector<Shown>& shown) {
  std::map<std::string, std::size_t> counts;
  for (const Shown& atom : shown) {
    if (atom.element >= 1 && atom.element <= 118) {
      ++counts[gemmi::element_name(static_cast<gemmi::El>(atom.element))];
    }
  }
  std::string formula;
  const auto add = [&](const std::string& symbol) {
    const auto found = counts.find(symbol);
    if (found != counts.end()) {
      formula += symbol + (found->second > 1 ? std::to_string(found->second) : "");
      counts.erase(found);
    }
  };
  if (counts.count("C")) {
    add("C");
    add("H");
  }
  while (!counts.empty()) {
    add(counts.begin()->first);
  }
  return formula;
}

// 2.50 Å as "2.5 Å".
std::string Resolution(double angstrom) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", angstrom);
  std::string number = text;
  number.erase(number.find_last_not_of('0') + 1);
  if (number.back() == '.') {
    number.pop_back();
  }
  return number + " \u00c5";
}

}  // namespace

Facts FactsOf(const Structure& structure, const std::vector<Shown>& shown) {
  std::vector<std::string> facts = {Formula(shown)};
  const std::string atoms = shown.size() == 1 ? " atom" : " atoms";
  facts.push_back(shown.size() < structure.atoms.size()
                      ? Grouped(shown.size()) + " of " + Grouped(structure.atoms.size()) + atoms +
                            " shown"
                      : Grouped(shown.size()) + atoms);
  std::set<int> chains;
  for (const Shown& atom : shown) {
    if (atom.part == Part::kPolymer) {
      chains.insert(atom.chain);
    }
  }
  if (!chains.empty()) {
    facts.push_back(Grouped(chains.size()) + (chains.size() == 1 ? " chain" : " chains"));
  }
  std::string experiment = OneLine(structure.method);
  if (structure.resolution && std::isfinite(*structure.resolution) && *structure.resolution > 0) {
    experiment += (experiment.empty() ? "" : ", ") + Resolution(*structure.resolution);
  }
  if (!experiment.empty()) {
    facts.push_back(experiment);
  }
  Facts result = {OneLine(structure.title), {}};
  for (const std::string& fact : facts) {
    if (!fact.empty()) {
      result.summary += (result.summary.empty() ? "" : std::string(kBetween)) + fact;
    }
  }
  return result;
}
