// libFuzzer target for what a drop brings: any block a process of the user might drop, read as the
// shell's ID lists and as a list of file names, must never be read outside its bounds, and what is
// read must be whole lists and whole names.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/drop_formats.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// Whether `list` is a sequence of items ended by the one terminator at its end.
bool WholeList(const IdList& list) {
  std::size_t at = 0;
  while (at + 2 <= list.size()) {
    const std::size_t size = static_cast<unsigned char>(list[at]) |
                             static_cast<std::size_t>(static_cast<unsigned char>(list[at + 1]))
                                 << 8;
    if (size == 0) {
      return at + 2 == list.size();
    }
    if (size < 2) {
      return false;
    }
    at += size;
  }
  return false;
}

std::u16string Latin1(std::string_view name) {
  std::u16string text;
  for (const char byte : name) {
    text += static_cast<char16_t>(static_cast<unsigned char>(byte));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  if (const std::optional<std::vector<IdList>> lists = ReadIdListArray(block)) {
    // As many as the count at the start says.
    std::size_t count = 0;
    for (std::size_t i = 4; i-- > 0;) {
      count = count << 8 | data[i];
    }
    Require(lists->size() == count);
    for (const IdList& list : *lists) {
      Require(WholeList(list));
    }
  }
  if (const std::optional<std::vector<std::u16string>> names = ReadDropFiles(block, Latin1)) {
    for (const std::u16string& name : *names) {
      Require(!name.empty() && name.find(u'\0') == std::u16string::npos);
    }
  }
  return 0;
}
