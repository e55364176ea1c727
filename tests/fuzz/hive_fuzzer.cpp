// The hive's text form, parsed and written back: any text either parses or is refused with a
// line and a reason; what parses is written as a hive that parses to the same content, and
// writing that again gives the same text (the writer's output is a fixed point).
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/reg_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using chron::platform::HiveTree;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string empty = HiveTree().Serialize();

  HiveTree tree;
  int line = 0;
  std::string error;
  if (!tree.Parse(text, &line, &error)) {
    // Refused: a line of the text and a reason, and nothing of it kept.
    FUZZ_CHECK(line >= 1 && static_cast<size_t>(line) <= size + 1);
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(tree.Serialize() == empty);
    return 0;
  }
  const std::string written = tree.Serialize();

  HiveTree reread;
  line = 0;
  error.clear();
  const bool parsed = reread.Parse(written, &line, &error);
  if (!parsed) std::fprintf(stderr, "written hive refused at line %d: %s\n", line, error.c_str());
  FUZZ_CHECK(parsed);
  FUZZ_CHECK(reread.Serialize() == written);
  return 0;
}
