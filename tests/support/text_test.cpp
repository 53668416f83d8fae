#include "support/text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace nxo {
namespace {

TEST(Utf8Encoder, PairsSurrogatesAndRoundTripsWithTheDecoder) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  } cases[] = {
      {u"A", "A"},
      {u"\u00e9", "\xC3\xA9"},
      {u"\u07ff", "\xDF\xBF"},
      {u"\u0800", "\xE0\xA0\x80"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\uffff", "\xEF\xBF\xBF"},
      // A surrogate pair is one character of four bytes.
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U00010000", "\xF0\x90\x80\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeUtf8(c.wide), c.utf8);
    EXPECT_EQ(DecodeUtf8(c.utf8), c.wide);
  }
}

TEST(Utf8Encoder, WritesHalfAPairAsTheReplacementCharacter) {
  const std::u16string lone_high(1, static_cast<char16_t>(0xD83D));
  const std::u16string lone_low(1, static_cast<char16_t>(0xDE00));
  EXPECT_EQ(EncodeUtf8(u"a" + lone_high + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(EncodeUtf8(lone_low + lone_high), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(EncodeUtf8(lone_high), "\xEF\xBF\xBD");
}

TEST(ModifiedUtf8Encoder, WritesEveryUnitOnItsOwnAndZeroInTwoBytes) {
  EXPECT_EQ(EncodeModifiedUtf8(u"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(EncodeModifiedUtf8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(EncodeModifiedUtf8(std::u16string(u"a\0b", 3)), "a\xC0\x80" "b");
}

TEST(Utf8Decoder, TurnsMalformedInputIntoReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::u16string wide;
  } cases[] = {
      {"a\x80z", u"a\uFFFDz"},                  // stray continuation byte
      {"\xC3(", u"\uFFFD("},                    // cut short: the next byte starts anew
      {"\xE2\x82(", u"\uFFFD("},                // three-byte sequence cut after two
      {"\xF0\x9F\x98(", u"\uFFFD("},            // four-byte sequence cut after three
      {"ab\xE2\x82", u"ab\uFFFD"},              // runs past the end
      {"x\xC3", u"x\uFFFD"},
      {"\xC0\x80", u"\uFFFD\uFFFD"},            // overlong zero
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xED\xA0\xBD\xED\xB8\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // encoded surrogates
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xFF", u"\uFFFD"},
      {std::string("ab\0cd", 5), u"ab"},        // ends at the first zero unit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUtf8(c.utf8), c.wide) << c.utf8;
    EXPECT_TRUE(IsWellFormedUtf16(DecodeUtf8(c.utf8))) << c.utf8;
    if (c.utf8.find('\0') == std::string::npos) {
      EXPECT_FALSE(IsWellFormedUtf8(c.utf8)) << c.utf8;
    }
  }
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

// With a UTF-8 ANSI code page the C runtime's locale cannot convert: the
// coders do standard UTF-8, with surrogate pairs for characters beyond 16 bits.
TEST(AnsiConversion, UsesUtf8WhenTheCodePageIsUtf8) {
  SetAnsiCodePageIsUtf8(true);
  const std::string greek = "na\xC3\xAFve \xCE\xB1\xCE\xB2 \xD0\xB6 \xF0\x9F\x98\x80";  // naïve αβ ж 😀
  const std::u16string wide = u"na\u00efve \u03b1\u03b2 \u0436 \U0001F600";
  EXPECT_EQ(AnsiToWide(greek), wide);
  EXPECT_EQ(WideToAnsi(wide), greek);
  EXPECT_EQ(Utf8ToAnsi(greek), greek);
  EXPECT_EQ(AnsiToUtf8(greek), greek);
  struct Case {
    std::string ansi;
    std::u16string wide;
  };
  const Case malformed[] = {
      {"a\x80z", u"a?z"},               // stray continuation byte
      {"a\xC0\xAFz", u"a??z"},          // overlong two-byte form
      {"a\xE0\x80\xAFz", u"a?z"},       // overlong three-byte form
      {"a\xED\xA0\x80z", u"a?z"},       // an encoded surrogate
      {"a\xF4\x90\x80\x80z", u"a?z"},   // beyond U+10FFFF
      {"a\xCE", u"a?"},                 // cut off by the end
      {std::string("ab\0cd", 5), u"ab"},
  };
  for (const Case& c : malformed) EXPECT_EQ(AnsiToWide(c.ansi), c.wide) << c.ansi;
  EXPECT_EQ(WideToAnsi(std::u16string(u"a") + char16_t(0xD800) + u"z"), "a?z");  // a lone surrogate
  SetAnsiCodePageIsUtf8(false);
}

// The C library's own UTF-8 decoder takes some sequences no UTF-16 text can
// hold; what it gives for them is replaced, never passed on as a broken pair.
TEST(AnsiConversion, TheLocalesDecoderNeverYieldsBrokenUtf16) {
  const char* previous = std::setlocale(LC_CTYPE, nullptr);
  const std::string saved = previous ? previous : "C";
  // Windows' C runtime has no such locale; there the code page decides.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string inputs[] = {
      "a\xF4\xBF\xA9\xBBz",  // beyond U+10FFFF
      "a\xF7\xBF\xBF\xBFz",  // far beyond it
      "a\xED\xA0\x80z",      // an encoded surrogate
  };
  for (const std::string& input : inputs) {
    const std::u16string wide = AnsiToWide(input);
    EXPECT_TRUE(IsWellFormedUtf16(wide)) << input;
    EXPECT_EQ(wide.front(), u'a');
    EXPECT_EQ(wide.back(), u'z');
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
}  // namespace nxo
