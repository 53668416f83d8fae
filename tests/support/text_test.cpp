#include "support/text.h"

#include <gtest/gtest.h>

namespace nxo {
namespace {

TEST(Utf8Encoder, WritesEveryUnitOnItsOwn) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  } cases[] = {
      {u"A", "A"},
      {u"\u00e9", "\xC3\xA9"},
      {u"\u07ff", "\xDF\xBF"},
      {u"\u0800", "\xE0\xA0\x80"},
      {u"\u20ac", "\xE2\x82\xAC"},
      // A surrogate pair is not combined: each unit becomes three bytes.
      {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeUtf8(c.wide), c.utf8);
    EXPECT_EQ(DecodeUtf8(c.utf8), c.wide);
  }
}

TEST(Utf8Decoder, TurnsMalformedInputIntoQuestionMarks) {
  struct Case {
    std::string utf8;
    std::u16string wide;
  } cases[] = {
      {"a\x80z", u"a?z"},                  // stray continuation byte
      {"\xF0\x9F\x98\x80", u"????"},       // four-byte lead and its continuations
      {"\xC3(", u"?("},                    // cut short: the next byte starts anew
      {"\xE2\x82(", u"?("},                // three-byte sequence cut after two
      {"ab\xE2\x82", u"ab"},               // runs past the end: decoding stops
      {"x\xC3", u"x"},
      {std::string("ab\0cd", 5), u"ab"},   // ends at the first zero unit
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeUtf8(c.utf8), c.wide) << c.utf8;
}

TEST(KeywordComparison, IgnoresCaseOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("TRUE", "true"));
  EXPECT_TRUE(EqualsIgnoreCase("Auto", "auto"));
  EXPECT_FALSE(EqualsIgnoreCase("true ", "true"));
  EXPECT_FALSE(EqualsIgnoreCase("tru", "true"));
  EXPECT_TRUE(StartsWithIgnoreCase("NXO:A.class", "nxo:"));
  EXPECT_FALSE(StartsWithIgnoreCase("nx", "nxo:"));
}

TEST(NameBytes, AreLettersDigitsAndUnderscore) {
  for (char c : std::string("aZ09_")) EXPECT_TRUE(IsNameByte(static_cast<unsigned char>(c))) << c;
  for (char c : std::string(" =.-\t{}%$\\")) EXPECT_FALSE(IsNameByte(static_cast<unsigned char>(c))) << c;
}

TEST(AnsiConversion, PassesAsciiThroughUnchanged) {
  EXPECT_EQ(Utf8ToAnsi("plain -Xmx64m"), "plain -Xmx64m");
  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
  EXPECT_EQ(AnsiToWide(std::string("ab\0c", 4)), u"ab");
  EXPECT_EQ(WideToAnsi(std::u16string(u"ab\0c", 4)), "ab");
}

}  // namespace
}  // namespace nxo
