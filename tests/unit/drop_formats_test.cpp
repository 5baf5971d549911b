#include "launcher/drop_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
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

using Read = std::pair<DropRead, std::vector<IdList>>;
Read IdLists(const std::string& block) {
  std::vector<IdList> lists;
  const DropRead read = ReadIdListArray(block, &lists);
  return {read, lists};
}

TEST(DropFormatsTest, IdListsAreTheFoldersListThenEachItemsOwnWithinTheBlock) {
  // The count, the offsets of the folder's list and of each item's (16 = after three fields).
  const std::string folder = List({"C:", "Data"}), a = List({"a.pdb"}), desktop = List({});
  const IdList a_in_folder = List({"C:", "Data", "a.pdb"});
  EXPECT_EQ(IdLists(Fields({2, 16, 28, 28}) + folder + a),
            Read(DropRead::kRead, {a_in_folder, a_in_folder}));
  EXPECT_EQ(IdLists(Fields({1, 12, 14}) + desktop + a), Read(DropRead::kRead, {a}));
  EXPECT_EQ(IdLists(Fields({0, 8}) + desktop), Read(DropRead::kRead, {}));
  for (const std::string& malformed :
       {Fields({1}).substr(0, 3), Fields({1, 12}) + desktop,         // Offsets cut short.
        Fields({100000, 8}) + desktop,                               // A count beyond the block.
        Fields({1, 12, 1000}) + desktop + a,                         // An offset beyond it,
        Fields({1, 12, 0xFFFFFFF0}) + desktop + a,                   // or one that would wrap.
        Fields({1, 12, 14}) + desktop + a.substr(0, 8),              // No terminator.
        Fields({1, 12, 14}) + desktop + Fields({200}, 2) + "a.pdb",  // An item past the end.
        Fields({1, 12, 14}) + desktop + Fields({1, 0}, 2)}) {        // An item of size 1.
    EXPECT_EQ(IdLists(malformed), Read(DropRead::kMalformed, {}))
        << testing::PrintToString(malformed);
  }
  // More items than a drop may bring, told by the count alone; lists that together would take
  // more than 256 MiB: 4,100 items, each in one folder list of 64 KiB less 1.
  std::vector<std::uint32_t> offsets = {4100, 8 + 4 * 4100};
  offsets.resize(4102, 8 + 4 * 4100 + 65535);
  for (const std::string& too_large :
       {Fields({0xFFFFFFFF, 8}) + desktop, Fields({100001, 8}) + desktop,
        Fields(offsets) + List({std::string(65531, 'f')}) + desktop}) {
    EXPECT_EQ(IdLists(too_large).first, DropRead::kTooLarge);
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
  const auto names = [](const std::string& block) {
    std::vector<std::u16string> files;
    const DropRead read = ReadDropFiles(block, Latin1, &files);
    return std::pair(read, files);
  };
  using Names = std::pair<DropRead, std::vector<std::u16string>>;
  // The offset of the names, a point, whether it is in the non-client area, whether UTF-16.
  const auto header = [](std::uint32_t wide) { return Fields({20, 0, 0, 0, wide}); };
  const std::string wide = Fields({'C', ':', 0x3B2, 0, 'x', 0, 0}, 2);
  EXPECT_EQ(names(header(1) + wide), Names(DropRead::kRead, {u"C:\u03B2", u"x"}));
  EXPECT_EQ(names(header(0) + std::string("C:\xE9\0y\0\0", 7)),
            Names(DropRead::kRead, {u"C:\u00E9", u"y"}));
  for (const std::string& malformed :
       {header(1).substr(0, 19), header(1) + wide.substr(0, 12), header(1) + Fields({'a'}, 2),
        header(0) + "a", Fields({1000}) + header(0).substr(4) + std::string(2, '\0')}) {
    EXPECT_EQ(names(malformed), Names(DropRead::kMalformed, {}))
        << testing::PrintToString(malformed);
  }
  // 100,000 names are taken, one more is too many.
  std::string many;
  while (many.size() < 200000) {
    many.append("a\0", 2);
  }
  EXPECT_EQ(names(header(0) + many + '\0').second.size(), 100000u);
  EXPECT_EQ(names(header(0) + many + "a" + std::string(2, '\0')).first, DropRead::kTooLarge);
}

}  // namespace
