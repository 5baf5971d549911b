// libFuzzer target for what a drop brings: any block a process of the user might drop, read as the
// shell's ID lists and as a list of file names, is never read outside its bounds, and yields whole
// lists, each a chain of items that the shell can walk to its terminator, and whole names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/drop_formats.h"

namespace {

// Whether `list` is items of at least their own 2-byte size each, ended exactly by a size of 0.
bool IsChainOfItems(const IdList& list) {
  for (std::size_t at = 0, size = 0; at + 2 <= list.size(); at += size) {
    size = static_cast<unsigned char>(list[at]) |
           static_cast<std::size_t>(static_cast<unsigned char>(list[at + 1])) << 8;
    if (size < 2) {
      return size == 0 && at + 2 == list.size();
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  std::vector<IdList> lists;
  ReadIdListArray(block, &lists);
  for (const IdList& list : lists) {
    if (!IsChainOfItems(list)) {
      __builtin_trap();
    }
  }
  const auto ansi = [](std::string_view name) { return std::u16string(name.size(), u'a'); };
  std::vector<std::u16string> names;
  ReadDropFiles(block, ansi, &names);
  for (const std::u16string& name : names) {
    if (name.empty() || name.find(u'\0') != std::u16string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
