#include "thumbnails/cif_syntax.h"

#include <gemmi/third_party/fast_float.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

namespace {

// gemmi's white space: no vertical tab or form feed.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNonBlank(char c) { return c >= '!' && c <= '~'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithAnyCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) {
    return false;
  }
  for (std::size_t i = 0; i < start.size(); ++i) {
    if (Lower(text[i]) != Lower(start[i])) {
      return false;
    }
  }
  return true;
}

bool EqualAnyCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithAnyCase(a, b);
}

[[noreturn]] void Broken(const char* what) { throw std::runtime_error(what); }

class Tokens {
 public:
  explicit Tokens(std::string_view file) : file_(file) {}

  std::size_t at() const { return at_; }
  bool AtEnd() const { return at_ == file_.size(); }
  char Next() const { return file_[at_]; }
  bool At(std::string_view word) const { return StartsWithAnyCase(file_.substr(at_), word); }
  bool AtKeyword() const {
    const char c = Lower(Next());
    return (c == 'd' || c == 'l' || c == 'g' || c == 's') &&
           (At("data_") || At("loop_") || At("global_") || At("save_") || At("stop_"));
  }

  // White space and comments, which a token must be followed by: whether there are some, or the
  // end.
  bool Space() {
    const std::size_t from = at_;
    while (!AtEnd()) {
      if (IsSpace(Next())) {
        ++at_;
      } else if (Next() == '#') {
        const std::size_t end = file_.find('\n', at_);
        at_ = end == std::string_view::npos ? file_.size() : end + 1;
      } else {
        break;
      }
    }
    return at_ > from || AtEnd();
  }

  void Skip(std::size_t characters) { at_ += characters; }

  // The characters up to white space: a keyword with the name after it, or a tag, which must be
  // followed by white space.
  std::string_view Word() {
    const std::size_t from = at_;
    while (!AtEnd() && IsNonBlank(Next())) {
      ++at_;
    }
    return file_.substr(from, at_ - from);
  }
  std::string_view Tag() {
    const std::string_view tag = Word();
    if (tag.size() < 2 || AtEnd() || !IsSpace(Next())) {
      Broken("a tag is not followed by white space");
    }
    return tag;
  }

  // The value that begins here, followed by white space, a comment or the end; none where what
  // begins here is no value (a tag, a keyword, the end, or a value followed by anything else).
  std::optional<std::string_view> Value() {
    if (AtEnd()) {
      return std::nullopt;
    }
    const char first = Next();
    std::size_t end = at_ + 1;
    if (first == '\'' || first == '"') {
      // A quote closes only where white space, a comment or the end follows it.
      for (;; ++end) {
        if (end == file_.size() || file_[end] == '\n') {
          Broken("a quoted value is not closed on its line");
        }
        if (file_[end] == first &&
            (end + 1 == file_.size() || IsSpace(file_[end + 1]) || file_[end + 1] == '#')) {
          break;
        }
      }
      ++end;
    } else if (first == ';' && (at_ == 0 || file_[at_ - 1] == '\n')) {
      const std::size_t close = file_.find("\n;", at_ + 1);
      if (close == std::string_view::npos) {
        Broken("a text field is not closed");
      }
      end = close + 2;
    } else if (first == '_' || first == '$' || first == '#' || !IsNonBlank(first) || AtKeyword()) {
      return std::nullopt;
    } else {
      while (end < file_.size() && IsNonBlank(file_[end])) {
        ++end;
      }
    }
    if (end < file_.size() && !IsSpace(file_[end]) && file_[end] != '#') {
      return std::nullopt;
    }
    const std::string_view value = file_.substr(at_, end - at_);
    at_ = end;
    return value;
  }

 private:
  std::string_view file_;
  std::size_t at_ = 0;
};

// Where each of `wanted` stands among a loop's `tags`, or -1.
std::vector<int> Positions(const std::vector<std::string_view>& tags,
                           const std::vector<std::string_view>& wanted) {
  std::vector<int> positions(wanted.size(), -1);
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    for (std::size_t t = 0; t < tags.size() && positions[w] < 0; ++t) {
      positions[w] = EqualAnyCase(tags[t], wanted[w]) ? static_cast<int>(t) : -1;
    }
  }
  return positions;
}

}  // namespace

std::string TakeLoops(std::string_view file, const std::vector<std::string_view>& tags,
                      std::size_t required, const std::vector<std::string_view>& skipped,
                      const LoopRow& row) {
  std::string rest;
  std::size_t copied = 0;  // The end of the part of `file` that `rest` holds.
  std::size_t blocks = 0;
  bool in_frame = false;
  Tokens tokens(file);
  tokens.Space();
  while (!tokens.AtEnd()) {
    // A keyword but data_NAME and save_NAME ends where a comment may follow it at once.
    if (tokens.At("data_")) {
      ++blocks;
      tokens.Word();
    } else if (tokens.At("global_")) {
      ++blocks;
      tokens.Skip(7);
    } else if (tokens.At("stop_")) {
      tokens.Skip(5);
    } else if (tokens.At("save_")) {
      // save_ ends a frame; outside one, save_NAME begins one.
      in_frame ? tokens.Skip(5) : static_cast<void>(tokens.Word());
      in_frame = !in_frame;
    } else if (tokens.At("loop_")) {
      tokens.Skip(5);
      if (!tokens.Space()) {
        Broken("loop_ is not followed by white space");
      }
      std::vector<std::string_view> loop_tags;
      while (!tokens.AtEnd() && tokens.Next() == '_') {
        loop_tags.push_back(tokens.Tag());
        tokens.Space();
      }
      if (loop_tags.empty()) {
        Broken("a loop without tags");
      }
      // Only a loop of one category is taken from gemmi's parser, whose document still has the
      // values of any other.
      const auto all_of = [&](std::string_view category) {
        return std::all_of(loop_tags.begin(), loop_tags.end(),
                           [&](std::string_view tag) { return StartsWithAnyCase(tag, category); });
      };
      const std::vector<int> positions = Positions(loop_tags, tags);
      const bool taken =
          !in_frame && blocks > 0 && all_of(tags.front().substr(0, tags.front().find('.') + 1)) &&
          std::all_of(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(required),
                      [](int position) { return position >= 0; });
      const bool replaced = taken || std::any_of(skipped.begin(), skipped.end(), all_of);
      std::vector<std::string_view> values(loop_tags.size());
      std::vector<std::string_view> wanted(tags.size(), "?");
      const std::size_t first = tokens.at();
      std::size_t last = first, count = 0;
      bool reading = taken;
      for (std::optional<std::string_view> value; (value = tokens.Value()); tokens.Space()) {
        last = tokens.at();
        if (reading) {
          values[count % values.size()] = *value;
          if (count % values.size() == values.size() - 1) {
            for (std::size_t w = 0; w < wanted.size(); ++w) {
              wanted[w] = positions[w] < 0 ? "?" : values[static_cast<std::size_t>(positions[w])];
            }
            reading = row(blocks - 1, wanted.data());
          }
        }
        ++count;
      }
      if (count % loop_tags.size() != 0) {
        Broken("the values of a loop do not fill its rows");
      }
      if (replaced && count > 0) {
        rest.append(file, copied, first - copied);
        for (std::size_t i = 0; i < loop_tags.size(); ++i) {
          rest += i ? " ." : ".";
        }
        copied = last;
      }
    } else if (tokens.Next() == '_') {
      tokens.Tag();
      tokens.Space();
      tokens.Value();
    } else if (!tokens.Value()) {
      tokens.Word();  // Not CIF: gemmi's parser refuses the rest.
      if (tokens.at() < file.size() && !IsNonBlank(file[tokens.at()]) &&
          !IsSpace(file[tokens.at()])) {
        Broken("a character that CIF has no place for");
      }
    }
    tokens.Space();
  }
  rest.append(file, copied, std::string_view::npos);
  return rest;
}

double CifNumber(std::string_view value) {
  const char* start = value.data();
  const char* const end = start + value.size();
  if (start != end && *start == '+') {
    ++start;
  }
  // No NaN or infinity in CIF.
  const char* letter = start != end && *start == '-' ? start + 1 : start;
  if (letter != end && (Lower(*letter) == 'i' || Lower(*letter) == 'n')) {
    return NAN;
  }
  double number = 0;
  fast_float::from_chars_result result = fast_float::from_chars(start, end, number);
  if (result.ec != std::errc()) {
    return NAN;
  }
  if (result.ptr != end && *result.ptr == '(') {
    const char* p = result.ptr + 1;
    while (p != end && *p >= '0' && *p <= '9') {
      ++p;
    }
    if (p != end && *p == ')') {
      result.ptr = p + 1;
    }
  }
  return result.ptr == end ? number : NAN;
}
