#include "launcher/drop_formats.h"

#include <cstddef>
#include <cstdint>

namespace {

// Explorer's lists for a selection of 1,000 documents of one folder take about 300 KB. A block
// whose offsets all name one long folder list asks for that list once per item: a few megabytes of
// block could ask for terabytes.
constexpr std::size_t kMaxIdListBytes = std::size_t{1} << 28;

// A DROPFILES header is five 4-byte fields: the offset of the names, a point (two), whether the
// point is in the non-client area, and whether the names are UTF-16.
constexpr std::size_t kNamesOffsetField = 0;
constexpr std::size_t kWideField = 16;

// The little-endian number of `width` bytes at `offset` of `block`; empty where the block ends
// sooner.
std::optional<std::uint32_t> NumberAt(std::string_view block, std::size_t offset,
                                      std::size_t width) {
  if (offset > block.size() || block.size() - offset < width) {
    return std::nullopt;
  }
  std::uint32_t number = 0;
  for (std::size_t i = width; i-- > 0;) {
    number = number << 8 | static_cast<unsigned char>(block[offset + i]);
  }
  return number;
}

// The items of the ID list at `offset`, without the terminator; empty when the list does not end
// inside the block.
std::optional<std::string_view> ListAt(std::string_view block, std::size_t offset) {
  for (std::size_t at = offset;;) {
    const std::optional<std::uint32_t> item_size = NumberAt(block, at, 2);
    // A size of 1 cannot even hold the size itself.
    if (!item_size || *item_size == 1) {
      return std::nullopt;
    }
    if (*item_size == 0) {
      return block.substr(offset, at - offset);
    }
    at += *item_size;
  }
}

std::u16string FromUtf16(std::string_view name) {
  std::u16string text(name.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(name[2 * i]) |
                                    static_cast<unsigned char>(name[2 * i + 1]) << 8);
  }
  return text;
}

}  // namespace

std::optional<std::vector<IdList>> ReadIdListArray(std::string_view block) {
  constexpr std::size_t kOffsetSize = 4;
  const std::optional<std::uint32_t> count = NumberAt(block, 0, kOffsetSize);
  // The count, then an offset for the folder and one for each item.
  if (!count || *count >= block.size() / kOffsetSize - 1) {
    return std::nullopt;
  }
  const std::optional<std::string_view> folder =
      ListAt(block, *NumberAt(block, kOffsetSize, kOffsetSize));
  if (!folder) {
    return std::nullopt;
  }
  const IdList terminator(2, '\0');
  std::vector<IdList> items;
  items.reserve(*count);
  std::size_t total = 0;
  for (std::size_t i = 0; i < *count; ++i) {
    const std::optional<std::string_view> item =
        ListAt(block, *NumberAt(block, (i + 2) * kOffsetSize, kOffsetSize));
    if (!item) {
      return std::nullopt;
    }
    total += folder->size() + item->size() + terminator.size();
    if (total > kMaxIdListBytes) {
      return std::nullopt;
    }
    items.push_back(IdList(*folder).append(*item).append(terminator));
  }
  return items;
}

std::optional<std::vector<std::u16string>> ReadDropFiles(
    std::string_view block, std::u16string (*from_ansi)(std::string_view)) {
  const std::optional<std::uint32_t> names = NumberAt(block, kNamesOffsetField, 4);
  const std::optional<std::uint32_t> wide = NumberAt(block, kWideField, 4);
  if (!names || !wide) {
    return std::nullopt;
  }
  const std::size_t unit = *wide ? 2 : 1;
  std::vector<std::u16string> files;
  for (std::size_t start = *names;;) {
    std::size_t end = start;
    std::optional<std::uint32_t> character;
    while ((character = NumberAt(block, end, unit)) && *character != 0) {
      end += unit;
    }
    if (!character) {
      return std::nullopt;
    }
    // An empty name ends the list.
    if (end == start) {
      return files;
    }
    const std::string_view name = block.substr(start, end - start);
    files.push_back(*wide ? FromUtf16(name) : from_ansi(name));
    start = end + unit;
  }
}
