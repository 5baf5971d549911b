#include "thumbnails/text.h"

#include <charconv>
#include <gemmi/elem.hpp>
#include <stdexcept>
#include <string>

namespace text {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The element of one or two letters exactly; 0 where there is none.
int Element(std::string_view letters) {
  const std::string symbol(letters);
  const gemmi::Element element(symbol);
  return element == gemmi::El::X ? 0 : element.atomic_number();
}

// The number that `text` is, all of it.
template <typename Value>
std::optional<Value> Whole(std::string_view text) {
  Value value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

std::string_view Letters(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && end < 2 && IsLetter(text[end])) {
    ++end;
  }
  return text.substr(0, end);
}

}  // namespace

bool Lines::Next(std::string_view* line) {
  if (rest_.empty()) {
    return false;
  }
  const std::size_t end = rest_.find('\n');
  *line = rest_.substr(0, end);
  rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
  if (!line->empty() && line->back() == '\r') {
    line->remove_suffix(1);
  }
  return true;
}

std::string_view Lines::Required() {
  std::string_view line;
  if (!Next(&line)) {
    throw std::runtime_error("the file ends early");
  }
  return line;
}

bool IsAtomRecord(std::string_view line) {
  return StartsWith(line, "ATOM") || StartsWith(line, "HETATM");
}

bool EndsModel(std::string_view line) {
  return StartsWith(line, "ENDMDL") || (StartsWith(line, "END") && Trim(line.substr(3)).empty());
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) {
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) {
      ++i;
    }
    if (i > start) {
      fields.push_back(line.substr(start, i - start));
    }
  }
  return fields;
}

std::string_view Columns(std::string_view line, std::size_t from, std::size_t to) {
  return from >= line.size() ? std::string_view() : line.substr(from, to - from);
}

std::optional<double> Number(std::string_view field) {
  field = Trim(field);
  // from_chars takes no plus sign, which files write now and then.
  if (!field.empty() && field.front() == '+') {
    field.remove_prefix(1);
  }
  return Whole<double>(field);
}

std::optional<long> Integer(std::string_view field) { return Whole<long>(Trim(field)); }

double RequiredNumber(std::string_view field) {
  const std::optional<double> value = Number(field);
  if (!value) {
    throw std::runtime_error("a coordinate is not a number");
  }
  return *value;
}

int ElementOfSymbol(std::string_view symbol) {
  const std::string_view letters = Letters(Trim(symbol));
  const int two = letters.size() == 2 ? Element(letters) : 0;
  return two ? two : letters.empty() ? 0 : Element(letters.substr(0, 1));
}

}  // namespace text
