// The message formatter with any stored text and any insertion arguments (texts and numbers,
// up to 99 of them), and every catalogue entry with any arguments: each call ends with a text
// or with ERROR_INVALID_PARAMETER and no text, never with a memory error.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "messages/catalogue.h"
#include "messages/format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxArguments = 99;  // %1 .. %99
constexpr size_t kMaxArgumentText = 300;

void CheckResult(int result, const std::string& text) {
  FUZZ_CHECK(result == 0 || result == chron::kErrorInvalidParameter);
  if (result != 0) FUZZ_CHECK(text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<chron::MessageArg> args(input.ConsumeIntegralInRange<size_t>(0, kMaxArguments));
  for (chron::MessageArg& arg : args) {
    if (input.ConsumeBool()) arg = input.ConsumeIntegral<int64_t>();
    else arg = input.ConsumeRandomLengthString(kMaxArgumentText);
  }
  const auto catalogue = chron::Catalogue();
  const size_t entry = input.ConsumeIntegralInRange<size_t>(0, catalogue.size() - 1);
  const std::string stored = input.ConsumeRemainingBytesAsString();

  std::string text = "unchanged";
  int result = chron::FormatInsertions(stored, args, &text);
  CheckResult(result, text);
  // Without escapes the text is its own expansion.
  if (stored.find('%') == std::string::npos) FUZZ_CHECK(result == 0 && text == stored);

  text = "unchanged";
  result = chron::FormatCatalogueEntry(catalogue[entry].id, args, &text);
  CheckResult(result, text);
  return 0;
}
