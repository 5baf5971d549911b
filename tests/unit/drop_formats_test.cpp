#include "launcher/drop_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

// `width` little-endian bytes of each number.
std::string Fields(const std::vector<std::uint32_t>& numbers, int width = 4) {
  std::string bytes;
  for (const std::uint32_t number : numbers) {
    for (int i = 0; i < width; ++i) {
      bytes += static_cast<char>(number >> (8 * i) & 0xFF);
    }
  }
  return bytes;
}

// An ID list of one item per text.
std::string List(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) {
    list += Fields({static_cast<std::uint32_t>(item.size() + 2)}, 2) + item;
  }
  return list + Fields({0}, 2);
}

TEST(DropFormatsTest, IdListsAreTheFoldersListThenEachItemsOwnWithinTheBlock) {
  // The count, the offsets of the folder's list and of each item's (16 = after three fields).
  const std::string folder = List({"C:", "Data"}), a = List({"a.pdb"}), desktop = List({});
  EXPECT_EQ(ReadIdListArray(Fields({2, 16, 28, 28}) + folder + a),
            (std::vector<IdList>{List({"C:", "Data", "a.pdb"}), List({"C:", "Data", "a.pdb"})}));
  EXPECT_EQ(ReadIdListArray(Fields({1, 12, 14}) + desktop + a), std::vector<IdList>{a});
  EXPECT_EQ(ReadIdListArray(Fields({0, 8}) + desktop), std::vector<IdList>{});
  for (const std::string& malformed :
       {Fields({1}).substr(0, 3), Fields({1, 12}) + desktop,         // Offsets cut short.
        Fields({0xFFFFFFFF, 8}) + desktop,                           // A count beyond the block.
        Fields({1, 12, 1000}) + desktop + a,                         // An offset beyond it,
        Fields({1, 12, 0xFFFFFFF0}) + desktop + a,                   // or one that would wrap.
        Fields({1, 12, 14}) + desktop + a.substr(0, 8),              // No terminator.
        Fields({1, 12, 14}) + desktop + Fields({200}, 2) + "a.pdb",  // An item past the end.
        Fields({1, 12, 14}) + desktop + Fields({1, 0}, 2)}) {        // An item of size 1.
    EXPECT_EQ(ReadIdListArray(malformed), std::nullopt) << testing::PrintToString(malformed);
  }
}

std::u16string Latin1(std::string_view name) {
  std::u16string text;
  for (const char byte : name) {
    text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  }
  return text;
}

TEST(DropFormatsTest, FileNamesAreUtf16OrAnsiAsTheHeaderSaysWithinTheBlock) {
  // The offset of the names, a point, whether it is in the non-client area, whether UTF-16.
  const auto header = [](std::uint32_t wide) { return Fields({20, 0, 0, 0, wide}); };
  const std::string wide = Fields({'C', ':', 0x3B2, 0, 'x', 0, 0}, 2);
  EXPECT_EQ(ReadDropFiles(header(1) + wide, Latin1),
            (std::vector<std::u16string>{u"C:\u03B2", u"x"}));
  EXPECT_EQ(ReadDropFiles(header(0) + std::string("C:\xE9\0y\0\0", 7), Latin1),
            (std::vector<std::u16string>{u"C:\u00E9", u"y"}));
  for (const std::string& malformed :
       {header(1).substr(0, 19), header(1) + wide.substr(0, 12), header(1) + Fields({'a'}, 2),
        header(0) + "a", Fields({1000}) + header(0).substr(4) + std::string(2, '\0')}) {
    EXPECT_EQ(ReadDropFiles(malformed, Latin1), std::nullopt) << testing::PrintToString(malformed);
  }
}

}  // namespace
