#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "messages/format.h"
#include "messages/message_ids.h"

namespace chron {
namespace {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t follow = byte < 0x80 ? 0 : (byte >> 5) == 0x6 ? 1 : (byte >> 4) == 0xe ? 2 : (byte >> 3) == 0x1e ? 3 : 9;
    if (follow == 9 || i + follow >= text.size()) return false;
    uint32_t code = follow == 0 ? byte : byte & (0x3f >> follow);
    for (size_t k = 1; k <= follow; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = code << 6 | (next & 0x3f);
    }
    static constexpr uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[follow] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return false;
    i += follow + 1;
  }
  return true;
}

std::string Text(uint32_t id) {
  const CatalogueEntry* entry = FindCatalogueEntry(id);
  return entry == nullptr ? std::string("<missing>") : std::string(entry->text);
}

TEST(CatalogueTest, HoldsEveryEntryUnderTheMessageCodeLayout) {
  ASSERT_EQ(Catalogue().size(), 74u);
  for (const CatalogueEntry& entry : Catalogue()) {
    SCOPED_TRACE(testing::Message() << std::hex << entry.id);
    EXPECT_EQ(entry.id & 0x30000000u, 0u) << "customer and reserved bits are 0";
    EXPECT_EQ((entry.id >> 16) & 0xfffu, 0x100u) << "facility";
    const uint32_t code = entry.id & 0xffffu;
    EXPECT_TRUE(code >= 0x01 && code <= 0x5f) << "code";
    EXPECT_EQ(FindCatalogueEntry(entry.id), &entry);
  }
  // No code is used twice, not even under different severities.
  std::set<uint32_t> codes;
  for (const CatalogueEntry& entry : Catalogue()) EXPECT_TRUE(codes.insert(entry.id & 0xffffu).second);
}

TEST(CatalogueTest, UnknownIdentifiersAreNotFound) {
  for (uint32_t id : {0u, 0x41000020u, 0x0100000cu, 0xc1000039u, 0x41000015u | 0x20000000u, 0xffffffffu}) {
    EXPECT_EQ(FindCatalogueEntry(id), nullptr) << std::hex << id;
  }
}

TEST(CatalogueTest, SeverityComesFromTheTopTwoBits) {
  EXPECT_EQ(SeverityOf(0x0100000e), Severity::kSuccess);
  EXPECT_EQ(SeverityOf(0x41000015), Severity::kInformational);
  EXPECT_EQ(SeverityOf(0x81000036), Severity::kWarning);
  EXPECT_EQ(SeverityOf(0xc100001a), Severity::kError);
  std::vector<size_t> per_severity(4);
  for (const CatalogueEntry& entry : Catalogue()) ++per_severity[static_cast<size_t>(SeverityOf(entry.id))];
  EXPECT_EQ(per_severity, (std::vector<size_t>{4, 15, 11, 44}));
}

TEST(CatalogueTest, GenericEventEntriesAreInsertionOnly) {
  for (uint32_t id : {0x01000013u, 0x41000014u, 0x81000012u, 0xc1000011u}) EXPECT_EQ(Text(id), "%1%0\r\n");
  std::string text;
  const MessageArg arg = std::string("beliebiger Text\r\n");
  EXPECT_EQ(FormatCatalogueEntry(0xc1000011, {&arg, 1}, &text), 0);
  EXPECT_EQ(text, "beliebiger Text\r\n");
}

TEST(CatalogueTest, TextsAreUtf8AndEndInCrLfWithOnlyOneWithoutPercentZero) {
  std::vector<uint32_t> keeps_line_break;
  for (const CatalogueEntry& entry : Catalogue()) {
    SCOPED_TRACE(testing::Message() << std::hex << entry.id);
    EXPECT_TRUE(IsUtf8(entry.text));
    ASSERT_TRUE(entry.text.ends_with("\r\n"));
    if (!entry.text.ends_with("%0\r\n")) keeps_line_break.push_back(entry.id);
  }
  EXPECT_EQ(keeps_line_break, std::vector<uint32_t>{0x81000036});
}

// The texts as the product has always shown them, misspellings included.
TEST(CatalogueTest, TextsAreExact) {
  EXPECT_EQ(Text(0x41000016), "SNTP-Init: Initalisierung des SNTP Dienstes erfolgreich.%0\r\n");
  EXPECT_EQ(Text(0x41000017), "SNTP-Init: SNTP Dienst ist vollst\xc3\xa4ndig initialisiert und betriebsbereit.%0\r\n");
  EXPECT_EQ(Text(0x4100002d),
            "SNTP-Client: Die Abbweichung der Systemzeit zum NTP Zeitserver betr\xc3\xa4gt %1!d!%.%2!03d! "
            "Sekunde(n), erlaubt ist/sind aber nur %3!d! Sekunde(n), Systemzeit wird nicht korregiert.%0\r\n");
  EXPECT_EQ(Text(0x81000036),
            "SNTP-Init: Es konnte nicht festgestellt werden, ob der SNTP Dienst bereits aktiv ist.\r\n");
  EXPECT_EQ(Text(0xc1000006),
            "Das Funkuhrmodul %1 ist defekt oder f\xc3\xbcr eine andere Programmversion %!\r\n"
            "Es sind nicht alle ben\xc3\xb6tigten Eintrittspunkte vorhanden %!%0\r\n");
  EXPECT_EQ(Text(0xc100001e),
            "SNTP-x: Beim \xc3\x9c"
            "berpr\xc3\xbc"
            "fen ob ein der SNTP Dienst beendet werden soll trat der "
            "Fehler: %1 auf.%0\r\n");
  EXPECT_EQ(Text(0xc100000f), "%1: Winsock Funktion %2 meldet Fehler: %3!d!%0\r\n");
  EXPECT_EQ(Text(0xc1000035), "Init: Der SNTP Dienst konnte sich nicht als Service anmelden.%0\r\n");
  EXPECT_EQ(Text(0xc1000038),
            "SNTP-Init: Der Wert von IPQueryType (%1) in der Registry ist fehlerhaft ! Erlaubt sind die Wert "
            "SNMP und Registry.%0\r\n");
  EXPECT_TRUE(Text(0x41000001).starts_with("SNTP v4 Client/Server"));
}

// Every entry formats with the arguments its insertion kinds (those the typed msg:: constants
// demand) describe, and fails without the last of them.
TEST(CatalogueTest, EveryEntryFormatsWithArgumentsOfItsInsertionKinds) {
  for (const CatalogueEntry& entry : Catalogue()) {
    SCOPED_TRACE(testing::Message() << std::hex << entry.id);
    std::vector<MessageArg> args;
    for (char kind : entry.insertions) {
      args.push_back(kind == 'n' ? MessageArg(int64_t{7}) : MessageArg(std::string("TEXT")));
    }
    std::string formatted;
    ASSERT_EQ(FormatCatalogueEntry(entry.id, args, &formatted), 0);
    EXPECT_EQ(formatted.find('%'), std::string::npos) << formatted;
    if (!args.empty()) {
      args.pop_back();
      EXPECT_EQ(FormatCatalogueEntry(entry.id, args, &formatted), kErrorInvalidParameter);
    }
  }
  EXPECT_EQ(FindCatalogueEntry(msg::kDeviationRefused.id)->insertions, "nnn");
  EXPECT_EQ(FindCatalogueEntry(msg::kWinsockError.id)->insertions, "ttn");
}

}  // namespace
}  // namespace chron
