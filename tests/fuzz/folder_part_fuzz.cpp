// PathFolderPart: the path up to its last backslash that is not the second
// byte of a two-byte character, a trailing byte "\" left out of the search.
#include "discovery/image_path.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const Text folder = PathFolderPart(raw);

  std::string_view searched = ClipText(raw);
  FUZZ_CHECK(searched.substr(0, folder.size()) == folder);
  if (!searched.empty() && searched.back() == '\\') searched.remove_suffix(1);
  const std::vector<bool> trail = TrailBytes(searched);
  std::size_t expected = 0;
  for (std::size_t i = 0; i < searched.size(); ++i)
    if (searched[i] == '\\' && !trail[i]) expected = i + 1;

  FUZZ_CHECK(folder.size() == expected);
  if (!folder.empty()) {
    FUZZ_CHECK(folder.back() == '\\');
    FUZZ_CHECK(!trail[folder.size() - 1]);
  }
  return 0;
}
