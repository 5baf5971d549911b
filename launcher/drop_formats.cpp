#include "launcher/drop_formats.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace {

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

DropRead ReadIdListArray(std::string_view block, std::vector<IdList>* lists) {
  constexpr std::size_t kOffsetSize = 4;
  const std::optional<std::uint32_t> count = NumberAt(block, 0, kOffsetSize);
  if (!count) {
    return DropRead::kMalformed;
  }
  if (*count > kMaxDroppedItems) {
    return DropRead::kTooLarge;
  }
  // The count, then an offset for the folder and one for each item.
  if (*count >= block.size() / kOffsetSize - 1) {
    return DropRead::kMalformed;
  }
  const std::optional<std::string_view> folder =
      ListAt(block, *NumberAt(block, kOffsetSize, kOffsetSize));
  if (!folder) {
    return DropRead::kMalformed;
  }
  const auto item_at = [&](std::size_t i) {
    return ListAt(block, *NumberAt(block, (i + 2) * kOffsetSize, kOffsetSize));
  };
  const IdList terminator(2, '\0');
  // Every list is checked before any is copied. A block whose offsets all name one long folder
  // list asks for that list once per item: a few megabytes of block could ask for terabytes.
  std::size_t total = 0;
  for (std::size_t i = 0; i < *count; ++i) {
    const std::optional<std::string_view> item = item_at(i);
    if (!item) {
      return DropRead::kMalformed;
    }
    total += folder->size() + item->size() + terminator.size();
    if (total > kMaxDropBytes) {
      return DropRead::kTooLarge;
    }
  }
  lists->clear();
  lists->reserve(*count);
  for (std::size_t i = 0; i < *count; ++i) {
    lists->push_back(IdList(*folder).append(*item_at(i)).append(terminator));
  }
  return DropRead::kRead;
}

DropRead ReadDropFiles(std::string_view block, std::u16string (*from_ansi)(std::string_view),
                       std::vector<std::u16string>* names) {
  const std::optional<std::uint32_t> offset = NumberAt(block, kNamesOffsetField, 4);
  const std::optional<std::uint32_t> wide = NumberAt(block, kWideField, 4);
  if (!offset || !wide) {
    return DropRead::kMalformed;
  }
  const std::size_t unit = *wide ? 2 : 1;
  std::vector<std::u16string> files;
  for (std::size_t start = *offset;;) {
    std::size_t end = start;
    std::optional<std::uint32_t> character;
    while ((character = NumberAt(block, end, unit)) && *character != 0) {
      end += unit;
    }
    if (!character) {
      return DropRead::kMalformed;
    }
    // An empty name ends the list.
    if (end == start) {
      *names = std::move(files);
      return DropRead::kRead;
    }
    if (files.size() == kMaxDroppedItems) {
      return DropRead::kTooLarge;
    }
    const std::string_view name = block.substr(start, end - start);
    files.push_back(*wide ? FromUtf16(name) : from_ansi(name));
    start = end + unit;
  }
}
