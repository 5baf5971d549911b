// libFuzzer target for what a drop brings: any block a process of the user might drop, read as the
// shell's ID lists and as a list of file names, is never read outside its bounds, and yields whole
// lists and whole names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/drop_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view block(reinterpret_cast<const char*>(data), size);
  for (const IdList& list : ReadIdListArray(block).value_or(std::vector<IdList>{})) {
    if (list.size() < 2 || list.compare(list.size() - 2, 2, std::string(2, '\0')) != 0) {
      __builtin_trap();
    }
  }
  const auto ansi = [](std::string_view name) { return std::u16string(name.size(), u'a'); };
  for (const std::u16string& name :
       ReadDropFiles(block, ansi).value_or(std::vector<std::u16string>{})) {
    if (name.empty() || name.find(u'\0') != std::u16string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
