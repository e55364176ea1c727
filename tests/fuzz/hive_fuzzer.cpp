// The hive's text form, parsed and written back. The input is read twice:
// - as hive text: it either parses or is refused with a line and a reason; what parses is
//   written as a hive that parses to the same content, and writing that again gives the same
//   text (the writer's output is a fixed point);
// - as a list of registry operations (any key paths, value names, types and data): the hive
//   they build is written as text that parses, with every value as it was stored.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/reg_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using chron::platform::HiveTree;
using chron::platform::RegType;

constexpr size_t kMaxOperations = 64;
constexpr size_t kMaxPath = 600;  // past the 255 characters of a key name
constexpr size_t kMaxName = 80;
constexpr size_t kMaxData = 200;
constexpr uint32_t kLastType = 11;  // REG_QWORD; anything from REG_NONE on

// Writes `tree` and parses the text again: it must parse and be written the same way.
HiveTree WrittenAndReread(const HiveTree& tree) {
  const std::string written = tree.Serialize();
  HiveTree reread;
  int line = 0;
  std::string error;
  const bool parsed = reread.Parse(written, &line, &error);
  if (!parsed) std::fprintf(stderr, "written hive refused at line %d: %s\n", line, error.c_str());
  FUZZ_CHECK(parsed);
  FUZZ_CHECK(reread.Serialize() == written);
  return reread;
}

std::pair<RegType, std::vector<uint8_t>> Stored(const HiveTree& tree, const std::string& key, const std::string& name) {
  RegType type = RegType::kNone;
  uint32_t size = 0;
  FUZZ_CHECK(tree.QueryValue(key, name, &type, nullptr, &size) == chron::platform::kRegSuccess);
  std::vector<uint8_t> data(size);
  FUZZ_CHECK(tree.QueryValue(key, name, &type, data.data(), &size) == chron::platform::kRegSuccess);
  return {type, data};
}

void TextRoundTrip(std::string_view text) {
  HiveTree tree;
  int line = 0;
  std::string error;
  if (!tree.Parse(text, &line, &error)) {
    // Refused: a line of the text and a reason, and nothing of it kept.
    FUZZ_CHECK(line >= 1 && static_cast<size_t>(line) <= text.size() + 1);
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(tree.Serialize() == HiveTree().Serialize());
    return;
  }
  WrittenAndReread(tree);
}

void OperationsRoundTrip(FuzzedDataProvider& input) {
  HiveTree tree;
  std::vector<std::pair<std::string, std::string>> values;  // key and name of each stored value
  for (size_t i = 0; i < kMaxOperations && input.remaining_bytes() > 0; ++i) {
    const bool create_only = input.ConsumeBool();
    const auto type = static_cast<RegType>(input.ConsumeIntegralInRange<uint32_t>(0, kLastType));
    std::string key = input.ConsumeRandomLengthString(kMaxPath);
    if (create_only) {
      tree.CreateKey(key);
      continue;
    }
    std::string name = input.ConsumeRandomLengthString(kMaxName);
    const std::string data = input.ConsumeRandomLengthString(kMaxData);
    if (tree.SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())) ==
        chron::platform::kRegSuccess) {
      values.emplace_back(std::move(key), std::move(name));
    }
  }
  const HiveTree reread = WrittenAndReread(tree);
  for (const auto& [key, name] : values) FUZZ_CHECK(Stored(reread, key, name) == Stored(tree, key, name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TextRoundTrip(std::string_view(reinterpret_cast<const char*>(data), size));
  FuzzedDataProvider input(data, size);
  OperationsRoundTrip(input);
  return 0;
}
