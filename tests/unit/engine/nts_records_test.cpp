#include "engine/nts_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/testutil/hex.h"

namespace chron::nts {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::Hex;

// A message of (critical, type, body hex) records.
struct R {
  bool critical;
  uint16_t type;
  const char* body;
};
std::vector<KeRecord> Message(std::initializer_list<R> records) {
  Bytes bytes;
  for (const R& r : records) AppendKeRecord(r.critical, r.type, Hex(r.body), &bytes);
  return ParseKeRecords(bytes).records;
}
const R kProto{true, kNextProtocol, "0000"}, kAead{true, kAeadAlgorithm, "000f"}, kEnd{true, kEndOfMessage, ""};

TEST(NtsRecordsTest, BuildsTheRfcLayouts) {
  const std::array<uint8_t, 5> s2c = ExporterContext(kAeadAesSivCmac256, true);
  const struct {
    const char* name;
    Bytes built;
    Bytes wire;
  } cases[] = {
      {"request", BuildKeRequest(), Hex("80010002000080040002000f80000000")},
      {"error", BuildKeError(kBadRequest), Hex("80020002000180000000")},
      {"refusal", BuildKeRefusal(), Hex("8001000080000000")},
      {"response", BuildKeResponse({Hex("c0c1")}, "ab", 124),
       Hex("80010002000080040002000f00050002c0c18006000261628007000200"
           "7c80000000")},
      {"exporter context", Bytes(s2c.begin(), s2c.end()), Hex("0000000f01")},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.wire) << c.name;
}

TEST(NtsRecordsTest, ParsesUpToEndOfMessageWithinBounds) {
  const Bytes request = BuildKeRequest();
  Bytes too_many;
  for (size_t i = 0; i <= kMaxKeRecords; ++i) AppendKeRecord(false, kNewCookie, {}, &too_many);
  const struct {
    const char* name;
    Bytes bytes;
    KeParseStatus status;
  } cases[] = {
      {"request", request, KeParseStatus::kComplete},
      {"cut in a header", Bytes(request.begin(), request.end() - 2), KeParseStatus::kIncomplete},
      {"cut in a body", Bytes(request.begin(), request.begin() + 5), KeParseStatus::kIncomplete},
      {"bytes after the end", Hex("8000000000"), KeParseStatus::kMalformed},
      {"over the size bound", Bytes(kMaxKeMessageSize + 1), KeParseStatus::kMalformed},
      {"over the record bound", too_many, KeParseStatus::kMalformed},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseKeRecords(c.bytes).status, c.status) << c.name;
  const std::vector<KeRecord> records = ParseKeRecords(request).records;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].critical);
  EXPECT_EQ(records[1].type, kAeadAlgorithm);
  EXPECT_EQ(records[1].body, Hex("000f"));
}

TEST(NtsRecordsTest, ServerJudgesRequests) {
  using Kind = KeRequestVerdict::Kind;
  const struct {
    const char* name;
    std::vector<KeRecord> records;
    Kind kind;
    KeErrorCode error;
  } cases[] = {
      {"ours", Message({kProto, kAead, kEnd}), Kind::kAccept, kBadRequest},
      {"offers more", Message({{true, kNextProtocol, "80010000"}, {false, kAeadAlgorithm, "0010000f"}, kEnd}),
       Kind::kAccept, kBadRequest},
      {"unknown, not critical", Message({kProto, kAead, {false, 0x4000, "01"}, kEnd}), Kind::kAccept, kBadRequest},
      {"unknown, critical", Message({kProto, kAead, {true, 0x4000, "01"}, kEnd}), Kind::kError, kUnrecognizedCritical},
      {"an error record", Message({kProto, kAead, {true, kError, "0000"}, kEnd}), Kind::kError, kBadRequest},
      {"no next protocol", Message({kAead, kEnd}), Kind::kError, kBadRequest},
      {"next protocol twice", Message({kProto, kProto, kAead, kEnd}), Kind::kError, kBadRequest},
      {"next protocol not critical", Message({{false, kNextProtocol, "0000"}, kAead, kEnd}), Kind::kError, kBadRequest},
      {"no AEAD record", Message({kProto, kEnd}), Kind::kError, kBadRequest},
      {"AEAD twice", Message({kProto, kAead, kAead, kEnd}), Kind::kError, kBadRequest},
      {"odd AEAD body", Message({kProto, {true, kAeadAlgorithm, "000f00"}, kEnd}), Kind::kError, kBadRequest},
      {"end with a body", Message({kProto, kAead, {true, kEndOfMessage, "00"}}), Kind::kError, kBadRequest},
      {"another protocol", Message({{true, kNextProtocol, "8001"}, kEnd}), Kind::kRefuse, kBadRequest},
      {"another algorithm", Message({kProto, {true, kAeadAlgorithm, "0010"}, kEnd}), Kind::kRefuse, kBadRequest},
  };
  for (const auto& c : cases) {
    const KeRequestVerdict verdict = JudgeKeRequest(c.records);
    EXPECT_EQ(verdict.kind, c.kind) << c.name;
    if (c.kind == Kind::kError) {
      EXPECT_EQ(verdict.error, c.error) << c.name;
    }
  }
}

TEST(NtsRecordsTest, ClientJudgesResponses) {
  using Kind = KeResponseVerdict::Kind;
  const R cookie{false, kNewCookie, "c0c1c2c3"};
  const struct {
    const char* name;
    std::vector<KeRecord> records;
    Kind kind;
    uint16_t code;
  } cases[] = {
      {"cookies", Message({kProto, kAead, cookie, cookie, kEnd}), Kind::kAccept, 0},
      {"error", ParseKeRecords(BuildKeError(kInternalServerError)).records, Kind::kServerError, 2},
      {"warning", Message({kProto, kAead, cookie, {true, kWarning, "0007"}, kEnd}), Kind::kServerWarning, 7},
      {"unknown critical", Message({kProto, kAead, cookie, {true, 0x20, ""}, kEnd}), Kind::kUnrecognizedCritical, 0x20},
      {"no protocol", ParseKeRecords(BuildKeRefusal()).records, Kind::kProtocolRefused, 0},
      {"another algorithm", Message({kProto, {true, kAeadAlgorithm, "0010"}, cookie, kEnd}), Kind::kAlgorithmRefused,
       16},
      {"no algorithm", Message({kProto, cookie, kEnd}), Kind::kAlgorithmRefused, 0},
      {"no cookie", Message({kProto, kAead, kEnd}), Kind::kNoCookies, 0},
      {"protocol not offered", Message({{true, kNextProtocol, "0001"}, kAead, cookie, kEnd}), Kind::kMalformed, 0},
      {"no end", Message({kProto, kAead, cookie}), Kind::kMalformed, 0},
      {"port of 3 bytes", Message({kProto, kAead, cookie, {true, kNtpPort, "000102"}, kEnd}), Kind::kMalformed, 0},
      {"server with a space", Message({kProto, kAead, cookie, {true, kNtpServer, "6120"}, kEnd}), Kind::kMalformed, 0},
      {"empty cookie after a good one", Message({kProto, kAead, cookie, {true, kNewCookie, ""}, kEnd}),
       Kind::kMalformed, 0},
  };
  for (const auto& c : cases) {
    const KeResponseVerdict verdict = JudgeKeResponse(c.records);
    EXPECT_EQ(verdict.kind, c.kind) << c.name;
    EXPECT_EQ(verdict.code, c.code) << c.name;
    // Only an accepted response hands cookies over.
    EXPECT_EQ(verdict.cookies.empty(), c.kind != Kind::kAccept) << c.name;
  }
}

TEST(NtsRecordsTest, ClientTakesWhatTheServerResponseCarries) {
  const std::vector<Bytes> cookies(kCookiesPerSession + 1, Bytes(100, 0x5a));
  const KeResponseVerdict verdict =
      JudgeKeResponse(ParseKeRecords(BuildKeResponse(cookies, "zeit.example", 10123)).records);
  ASSERT_EQ(verdict.kind, KeResponseVerdict::Kind::kAccept);
  EXPECT_EQ(verdict.cookies, std::vector<Bytes>(kCookiesPerSession, Bytes(100, 0x5a)));
  EXPECT_EQ(verdict.ntp_server, "zeit.example");
  EXPECT_EQ(verdict.ntp_port, 10123);
}

}  // namespace
}  // namespace chron::nts
