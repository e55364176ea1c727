#include "engine/nts_cookie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chron::nts {
namespace {

constexpr int64_t kNow = 1714564800;  // Unix seconds

ServerKeyRing RingAt(int64_t now) {
  ServerKeyRing ring;
  ring.Rotate(*NewServerKey(ring, now));
  return ring;
}

SessionKeys Keys() {
  SessionKeys keys;
  keys.c2s.fill(0x11);
  keys.s2c.fill(0x22);
  return keys;
}

TEST(NtsCookieTest, OpensUnderTheCurrentAndThePreviousKeyOnly) {
  ServerKeyRing ring = RingAt(kNow);
  const std::vector<uint8_t> cookie = *SealCookie(*ring.current, Keys());
  ASSERT_EQ(cookie.size(), kCookieSize);
  std::vector<uint8_t> other_key_id = cookie;
  other_key_id[3] ^= 0x01;
  std::vector<uint8_t> changed = cookie;
  changed[kCookieSize - 1] ^= 0x01;

  for (int rotations = 0; rotations < 3; ++rotations) {
    const std::optional<SessionKeys> opened = OpenCookie(ring, cookie);
    ASSERT_EQ(opened.has_value(), rotations < 2) << rotations;
    if (opened) {
      EXPECT_EQ(opened->c2s, Keys().c2s);
      EXPECT_EQ(opened->s2c, Keys().s2c);
    }
    EXPECT_FALSE(OpenCookie(ring, other_key_id)) << rotations;
    EXPECT_FALSE(OpenCookie(ring, changed)) << rotations;
    ring.Rotate(*NewServerKey(ring, kNow + (rotations + 1) * kServerKeyRotationSeconds));
  }
}

TEST(NtsCookieTest, RotationIsDueAfterAPeriodEitherWay) {
  const ServerKeyRing ring = RingAt(kNow);
  const struct {
    int64_t now;
    bool due;
  } cases[] = {
      {kNow, false},
      {kNow + kServerKeyRotationSeconds - 1, false},
      {kNow + kServerKeyRotationSeconds, true},
      {kNow - kServerKeyRotationSeconds + 1, false},
      {kNow - kServerKeyRotationSeconds, true},
  };
  for (const auto& c : cases) EXPECT_EQ(ring.RotationDue(c.now), c.due) << c.now - kNow;
  EXPECT_TRUE(ServerKeyRing{}.RotationDue(kNow));
}

TEST(NtsCookieTest, KeyFileRoundTripsAndRefusesOtherText) {
  ServerKeyRing ring = RingAt(kNow);
  ring.Rotate(*NewServerKey(ring, kNow + 5));
  const std::optional<ServerKeyRing> read = ParseServerKeys(FormatServerKeys(ring));
  ASSERT_TRUE(read && read->current && read->previous);
  EXPECT_EQ(read->current->id, ring.current->id);
  EXPECT_EQ(read->current->created, kNow + 5);
  EXPECT_EQ(read->current->secret, ring.current->secret);
  EXPECT_EQ(read->previous->id, ring.previous->id);
  EXPECT_EQ(read->previous->secret, ring.previous->secret);

  const std::string secret(64, 'a');
  const std::string line = "0000000a 1714564800 " + secret + "\n";
  EXPECT_TRUE(ParseServerKeys("# comment\n\n" + line));
  for (const std::string& text :
       std::vector<std::string>{"", "# only\n", line + line, line + "0000000b 1 " + secret + "\n" + line,
                                "0000000a 1714564800 " + secret + "0\n", "000000a 1714564800 " + secret + "\n",
                                "0000000a -1 " + secret + "\n", "0000000a 17x " + secret + "\n",
                                "0000000a  1714564800 " + secret + "\n", "0000000g 1714564800 " + secret + "\n"}) {
    EXPECT_FALSE(ParseServerKeys(text)) << text;
  }
}

}  // namespace
}  // namespace chron::nts
