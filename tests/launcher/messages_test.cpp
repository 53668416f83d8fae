#include "launcher/messages.h"

#include <gtest/gtest.h>

#include <optional>

#include "config/launch_config.h"
#include "platform/platform.h"

namespace nxo::launcher {
namespace {

class MessagesTest : public ::testing::Test {
 protected:
  // A fresh catalogue over |text|, as a process starting with it has.
  void Use(const std::string& text) {
    config_.SetTextForTesting(text, 0);
    catalogue_.emplace(&config_);
  }
  std::string GetMessageText(unsigned number) { return catalogue_->Text(number); }

  config::LaunchConfig config_;
  std::optional<MessageCatalogue> catalogue_;
};

TEST_F(MessagesTest, TheExecutableCarriesTheExactTexts) {
  Use("");
  struct Case {
    unsigned number;
    const char* text;
  } cases[] = {
      {1, "Java Runtime Environment not found."},
      {2, "Java Runtime Environment not valid."},
      {3, "Java Virtual Machine initialize failed."},
      {4, "Java Virtual Machine starts failed."},
      {5, "Can not get the virtual machine version."},
      {6, "Java virtual machine version %s is too low, require %s or higher."},
      {7, "The main startup class could not be found."},
      {8, "The main startup class is not valid, main method missing."},
      {9, "The exe can not be modified after it generated."},
      {10, "Error"},
      {12, "Java virtual machine version %s is too high, version between %s and %s is required."},
      {13, "There is already an instance of this program running."},
      {11, ""},
      {14, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetMessageText(c.number), c.text) << c.number;
    // Windows reads the string table resource; the built-in table must agree.
    std::u16string wide;
    if (platform::LoadStringResource(c.number, wide)) {
      EXPECT_EQ(BuiltInMessageText(c.number), GetMessageText(c.number)) << c.number;
    }
  }
}

TEST_F(MessagesTest, OverridesComeFromMessageLines) {
  Use("message 7=Start class missing.\\nPlease reinstall.\r\n"
      "message 13=First wins\r\n"
      "message 13=Second loses\r\n"
      "message 0=zero\r\nmessage -4=negative\r\nmessage 5 no equals\r\n"
      "message 8 = Missing.\r\n"
      "message 10=Oops\r\n"
      "message 6=ends in a backslash\\\r\n"
      "message 4x=trailing letters after the number\r\n");
  EXPECT_EQ(GetMessageText(7), "Start class missing.\nPlease reinstall.");
  EXPECT_EQ(GetMessageText(13), "First wins");
  EXPECT_EQ(GetMessageText(5), "Can not get the virtual machine version.");
  EXPECT_EQ(GetMessageText(8), " Missing.");
  EXPECT_EQ(GetMessageText(10), "Oops");
  EXPECT_EQ(GetMessageText(6), "ends in a backslash");
  EXPECT_EQ(GetMessageText(4), "trailing letters after the number");
  EXPECT_EQ(GetMessageText(1), "Java Runtime Environment not found.");
}

TEST_F(MessagesTest, TheTableIsBuiltOnce) {
  Use("message 1=before");
  EXPECT_EQ(GetMessageText(1), "before");
  config_.SetTextForTesting("message 1=after", 0);
  EXPECT_EQ(GetMessageText(1), "before");
}

// Messages 6 and 12 are formatted with the version texts; an override may
// change the words but never the arguments it asks for.
TEST_F(MessagesTest, FormattedOverridesMustAskForTheSameArguments) {
  struct Case {
    const char* line;
    unsigned number;
    bool used;
  } cases[] = {
      {"message 6=Have %s, need %s.", 6, true},
      {"message 6=%s, but at least %s", 6, true},
      {"message 6=100% sure: %s < %s", 6, false},         // "% s" is a conversion too
      {"message 12=%s is not in [%s, %s]", 12, true},
      {"message 6=Have %s, need %s, and %s", 6, false},   // one argument too many
      {"message 6=Have %s", 6, false},                    // one argument too few
      {"message 6=%s%n%s", 6, false},                     // writes through an argument
      {"message 6=%d and %s", 6, false},                  // another type
      {"message 6=%5s and %s", 6, false},                 // another conversion
      {"message 12=%s %s %s %", 12, false},               // a lone "%" at the end
      {"message 12=%s %s %s %s %s %s %s %s", 12, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Use(c.line);
    const std::string overridden = GetMessageText(c.number);
    EXPECT_EQ(catalogue_->FormatText(c.number), c.used ? overridden : BuiltInMessageText(c.number));
  }
  // Plain messages are never formatted, so any text serves.
  Use("message 7=%s%n%s");
  EXPECT_EQ(GetMessageText(7), "%s%n%s");
}

TEST(FormatConversions, ListsEachConversionInOrder) {
  bool well_formed = false;
  EXPECT_EQ(FormatConversions("a %s b %-5.2d c %% d %ls", well_formed),
            (std::vector<std::string>{"%s", "%-5.2d", "%ls"}));
  EXPECT_TRUE(well_formed);
  EXPECT_TRUE(FormatConversions("no conversions", well_formed).empty());
  EXPECT_TRUE(well_formed);
  FormatConversions("cut %", well_formed);
  EXPECT_FALSE(well_formed);
  FormatConversions("cut %-5", well_formed);
  EXPECT_FALSE(well_formed);
}

TEST(UnescapeMessage, Escapes) {
  struct Case {
    const char* text;
    const char* unescaped;
  } cases[] = {
      {"a\\nb\\rc\\td", "a\nb\rc\td"},
      {"\\\\", "\\"},
      {"\\=\\\"", "=\""},
      {"end\\", "end"},
      {"plain", "plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(UnescapeMessage(c.text), c.unescaped) << c.text;
}

TEST(FormatMessageText, FillsTheVersionMessagesAndStaysBounded) {
  EXPECT_EQ(FormatMessageText(BuiltInMessageText(6), "1.5.0_22", "1.6", "", "", ""),
            "Java virtual machine version 1.5.0_22 is too low, require 1.6 or higher.");
  EXPECT_EQ(FormatMessageText(BuiltInMessageText(12), "9.0.4", "", "1.8", "", ""),
            "Java virtual machine version 9.0.4 is too high, version between  and 1.8 is required.");
  std::string huge(5000, 'v');
  EXPECT_EQ(FormatMessageText("%s", huge.c_str()).size(), 1031u);
}

}  // namespace
}  // namespace nxo::launcher
