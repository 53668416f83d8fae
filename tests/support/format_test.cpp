// The formatter keeps C99's contract on every target, which msvcrt.dll's
// own _vsnprintf does not: a text that exactly fills the buffer, or does
// not fit, comes back there unterminated and measured as -1.
#include "support/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace nxo {
namespace {

TEST(FormatTest, TerminatesAndMeasuresWhateverTheBufferSize) {
  const std::string text = "id 42 of app";  // 12 bytes
  struct Case {
    std::size_t size;
    const char* expected;
  };
  const Case cases[] = {
      {64, "id 42 of app"},  // room to spare
      {13, "id 42 of app"},  // exactly the text and its terminator
      {12, "id 42 of ap"},   // the text fills the buffer: no room for the zero
      {5, "id 4"},           // cut well short
      {1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Format(buffer, c.size, "id %d of %s", 42, "app"), static_cast<int>(text.size()));
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer";
  }
  EXPECT_EQ(Format(nullptr, 0, "id %d of %s", 42, "app"), static_cast<int>(text.size()));
}

TEST(FormatTest, ConversionsTheLauncherUsesPrintAlikeOnEveryTarget) {
  EXPECT_EQ(FormatText("%8llu|%-3s|%c", 1234ULL, "a", 'z'), "    1234|a  |z");
  EXPECT_EQ(FormatText("%llu", ULLONG_MAX), "18446744073709551615");
  EXPECT_EQ(FormatText("%lld", LLONG_MIN), "-9223372036854775808");
  EXPECT_EQ(FormatText("%016llx", 0xabcULL), "0000000000000abc");
  EXPECT_EQ(FormatText("%.*s|%5.2s|%%", 3, "abcdef", "xyz"), "abc|   xy|%");
  EXPECT_EQ(FormatText("%d %u %x", -7, 4000000000u, 255u), "-7 4000000000 ff");
}

TEST(FormatTest, TextIsWholeHoweverLong) {
  const std::string part(5000, 'x');
  const std::string text = FormatText("[%s]", part.c_str());
  EXPECT_EQ(text, "[" + part + "]");
  EXPECT_EQ(FormatText("%s", ""), "");
}

}  // namespace
}  // namespace nxo
