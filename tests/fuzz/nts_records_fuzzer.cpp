// NTS-KE bytes of any length and content through the record parser and both sides' verdicts.
// A complete message ends with End of Message and is exactly the records it was read into,
// written back; a message accepted by the client carries one to eight cookies of bounded size.
#include <cstdint>
#include <vector>

#include "engine/nts_records.h"
#include "tests/fuzz/fuzz_support.h"

using namespace chron::nts;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const KeParse parse = ParseKeRecords({data, size});
  FUZZ_CHECK(parse.records.size() <= kMaxKeRecords);
  if (parse.status != KeParseStatus::kComplete) return 0;

  FUZZ_CHECK(!parse.records.empty() && parse.records.back().type == kEndOfMessage);
  std::vector<uint8_t> written;
  for (const KeRecord& r : parse.records) {
    FUZZ_CHECK(r.type < 0x8000);
    AppendKeRecord(r.critical, r.type, r.body, &written);
  }
  FUZZ_CHECK(written == std::vector<uint8_t>(data, data + size));

  const KeRequestVerdict request = JudgeKeRequest(parse.records);
  if (request.kind == KeRequestVerdict::Kind::kError) {
    FUZZ_CHECK(request.error == kUnrecognizedCritical || request.error == kBadRequest);
  }
  const KeResponseVerdict response = JudgeKeResponse(parse.records);
  if (response.kind == KeResponseVerdict::Kind::kAccept) {
    FUZZ_CHECK(!response.cookies.empty() && response.cookies.size() <= kCookiesPerSession);
    for (const std::vector<uint8_t>& cookie : response.cookies) {
      FUZZ_CHECK(!cookie.empty() && cookie.size() <= kMaxCookieSize);
    }
    FUZZ_CHECK(response.ntp_server.size() <= kMaxServerNameSize);
  } else {
    FUZZ_CHECK(response.cookies.empty());
  }
  return 0;
}
