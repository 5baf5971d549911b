#include "launcher/drop_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string Number(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) {
    bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  }
  return bytes;
}

// An ID list of one item per text, each item's size counting its own two bytes.
std::string List(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) {
    list += Number(static_cast<std::uint32_t>(item.size() + 2), 2) + item;
  }
  return list + std::string(2, '\0');
}

// A CIDA whose count is `count` and whose offsets are `offsets` (folder first), then `lists`.
std::string IdListArray(std::uint32_t count, const std::vector<std::uint32_t>& offsets,
                        const std::string& lists) {
  std::string block = Number(count, 4);
  for (const std::uint32_t offset : offsets) {
    block += Number(offset, 4);
  }
  return block + lists;
}

TEST(DropFormatsTest, IdListsAreTheFoldersListFollowedByEachItemsOwn) {
  const std::string folder = List({"C:", "Data"});
  const std::string a = List({"a.pdb"});
  const std::string b = List({"md", "b.gro"});
  const std::uint32_t lists = 16;  // After the count and three offsets.
  const auto f = static_cast<std::uint32_t>(folder.size());
  const auto block = IdListArray(
      2, {lists, lists + f, lists + f + static_cast<std::uint32_t>(a.size())}, folder + a + b);
  EXPECT_EQ(ReadIdListArray(block), (std::vector<IdList>{List({"C:", "Data", "a.pdb"}),
                                                         List({"C:", "Data", "md", "b.gro"})}));
  // The desktop's own list is empty; items may share a list; none at all is a selection of none.
  EXPECT_EQ(ReadIdListArray(IdListArray(2, {16, 18, 18}, List({}) + a)),
            (std::vector<IdList>{a, a}));
  EXPECT_EQ(ReadIdListArray(IdListArray(0, {8}, List({}))), std::vector<IdList>{});
}

TEST(DropFormatsTest, RefusesIdListsOutsideTheBlockOrWithoutAnEnd) {
  const std::string item = List({"a.pdb"});
  const std::string cases[] = {
      "",
      Number(1, 3),
      IdListArray(1, {12}, List({})),                     // One offset short.
      IdListArray(0xFFFFFFFF, {8}, List({})),             // A count far beyond the block.
      IdListArray(1, {12, 1000}, List({}) + item),        // An item's offset beyond the block.
      IdListArray(1, {12, 0xFFFFFFF0}, List({}) + item),  // ... where adding to it would wrap.
      IdListArray(1, {12, 14}, List({}) + item.substr(0, item.size() - 1)),  // No terminator.
      IdListArray(1, {12, 14}, List({}) + Number(200, 2) + "a.pdb"),  // An item past the end.
      IdListArray(1, {12, 14}, List({}) + Number(1, 2) + "\0\0"),     // A size of 1.
  };
  for (const std::string& block : cases) {
    EXPECT_EQ(ReadIdListArray(block), std::nullopt) << testing::PrintToString(block);
  }
}

std::u16string Latin1(std::string_view name) {
  std::u16string text;
  for (const char byte : name) {
    text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  }
  return text;
}

std::string DropFiles(bool wide, const std::string& names) {
  return Number(20, 4) + Number(0, 8) + Number(0, 4) + Number(wide, 4) + names;
}

TEST(DropFormatsTest, FileNamesAreUtf16OrTheAnsiCodePagesAsTheHeaderSays) {
  const char names[] = "C\0:\0\\\0\xB2\x03.\0p\0d\0b\0\0\0x\0\0\0\0";  // And its own NUL.
  const std::string wide(names, sizeof names);
  EXPECT_EQ(ReadDropFiles(DropFiles(true, wide), Latin1),
            (std::vector<std::u16string>{u"C:\\\u03B2.pdb", u"x"}));
  EXPECT_EQ(ReadDropFiles(DropFiles(false, std::string("C:\\\xE9.pdb\0y\0\0", 12)), Latin1),
            (std::vector<std::u16string>{u"C:\\\u00E9.pdb", u"y"}));
  EXPECT_EQ(ReadDropFiles(DropFiles(true, std::string(2, '\0')), Latin1),
            std::vector<std::u16string>{});

  const std::string malformed[] = {
      DropFiles(true, "").substr(0, 19),            // A header cut short.
      DropFiles(true, std::string("a\0b\0\0", 6)),  // No final NUL.
      DropFiles(true, std::string("a\0\0", 3)),     // A name without its NUL.
      DropFiles(false, "a"),                        // Names that never end.
      Number(1000, 4) + DropFiles(false, std::string(2, '\0')).substr(4),  // Names elsewhere.
  };
  for (const std::string& block : malformed) {
    EXPECT_EQ(ReadDropFiles(block, Latin1), std::nullopt) << testing::PrintToString(block);
  }
}

}  // namespace
