// The "nxo:" scheme's answers, the synthesised class file and the remembered
// configuration switches, without a JVM.
#include "natives/resource_url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/launch_config.h"
#include "natives/remembered_keys.h"
#include "tests/natives/expected_class_file.h"

namespace nxo::natives {
namespace {

using test::ExpectedClassBytes;

bool Off() { return false; }
bool On() { return true; }
constexpr ResourceSwitches kDefaults{Off, Off};

std::u16string Units(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(FakeClassBytesTest, MatchesTheLayoutByteForByte) {
  for (std::string_view name : {"A", "com/app/Main", "", "x/y/z/Deep$Inner"}) {
    EXPECT_EQ(FakeClassBytes(name), ExpectedClassBytes(name)) << name;
  }
}

TEST(FakeClassBytesTest, LengthFieldIsBigEndian) {
  const std::string bytes = FakeClassBytes(std::string(300, 'a'));
  ASSERT_EQ(bytes.size(), 415u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[49]), 0x01);
  EXPECT_EQ(static_cast<unsigned char>(bytes[50]), 0x2C);
  EXPECT_EQ(bytes, ExpectedClassBytes(std::string(300, 'a')));
}

TEST(FakeClassBytesTest, NamesBeyondTheLengthFieldGiveNothing) {
  EXPECT_EQ(FakeClassBytes(std::string(65535, 'b')).size(), 65535u + 115u);
  EXPECT_TRUE(FakeClassBytes(std::string(65536, 'b')).empty());
  EXPECT_TRUE(FakeClassBytes(std::string(70000, 'b')).empty());
}

TEST(NormalizeEntryPathTest, RemovesDotAndDotDotSteps) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"nxo:com\\.\\app\\Main.class", "nxo:com\\app\\Main.class"},
      {"a\\.\\.\\b", "a\\b"},
      {"a\\.\\", "a\\"},
      {"nxo:com\\x\\..\\app\\Main.class", "nxo:com\\app\\Main.class"},
      {"nxo:a\\b\\..\\..\\c\\D.class", "nxo:c\\D.class"},
      // The segment ends at the scheme's colon or a jar's "!".
      {"nxo:x\\..\\A.class", "nxo:A.class"},
      {"nxo:lib\\a.jar!\\x\\..\\B.class", "nxo:lib\\a.jar!\\B.class"},
      {"nxo:lib\\a.jar!x\\..\\B.class", "nxo:lib\\a.jar!B.class"},
      // Nothing before a leading "\..\": only the step itself goes.
      {"\\..\\a", "a"},
      {"\\..\\..\\a", "..\\a"},
      {"x\\..\\", ""},
      {"plain", "plain"},
      {"a\\..b\\.c", "a\\..b\\.c"},
  };
  for (const Case& c : cases) {
    std::string narrow = c.in;
    NormalizeEntryPath(narrow);
    EXPECT_EQ(narrow, c.out) << c.in;
    std::u16string wide = Units(c.in);
    NormalizeEntryPath(wide);
    EXPECT_EQ(wide, Units(c.out)) << c.in;
  }
}

TEST(ResourceDataTest, AnswersByScheme) {
  struct Case {
    std::string url;
    std::optional<std::string> class_name;  // nullopt: empty resource
  } class_cases[] = {
      {"NXO:A.class", "A"},
      {"nxo:A.CLASS", "A"},
      {"nxo:.class", ""},
      {"nxo:Main.class", "Main"},
      {"nxo:/Main.class", "Main"},
      {"nxo:com/./app/Main.class", "com/app/Main"},
      {"nxo:com/x/../app/Main.class", "com/app/Main"},
      {"nxo:lib/a.jar!/com/app/Main.class", "com/app/Main"},
      {"nxo:lib\\a.jar!\\com\\app\\Main.class", "com/app/Main"},
      {"nxo:a/b:c/D.class", "c/D"},
      {"nxo:data/readme.txt", std::nullopt},
      {"nxo:", std::nullopt},
      {"nxo:A.class.txt", std::nullopt},
  };
  for (const Case& c : class_cases) {
    const std::optional<std::string> data = ResourceData(Units(c.url), kDefaults);
    ASSERT_TRUE(data.has_value()) << c.url;
    EXPECT_EQ(*data, c.class_name ? ExpectedClassBytes(*c.class_name) : std::string()) << c.url;
  }
  for (std::string url : {"file:/x.class", "", "nxo", "nx:A.class", "jar:nxo:a!/A.class"}) {
    EXPECT_FALSE(ResourceData(Units(url), kDefaults).has_value()) << url;
  }
}

TEST(ResourceDataTest, TextEndsAtItsFirstZeroUnit) {
  using namespace std::string_literals;
  EXPECT_EQ(ResourceData(u"nxo:A.class\0tail.txt"s, kDefaults), ExpectedClassBytes("A"));
  EXPECT_EQ(ResourceData(u"nxo:A.txt\0.class"s, kDefaults), std::string());
  EXPECT_FALSE(ResourceData(u"\0nxo:A.class"s, kDefaults).has_value());
}

TEST(ResourceDataTest, NonAsciiNamesComeInModifiedUtf8) {
  EXPECT_EQ(ResourceData(u"nxo:pkg/Caf\u00e9.class", kDefaults), ExpectedClassBytes("pkg/Caf\xC3\xA9"));
  // A supplementary character: each surrogate on its own, three bytes each.
  EXPECT_EQ(ResourceData(u"nxo:Smile\U0001F600.class", kDefaults),
            ExpectedClassBytes("Smile\xED\xA0\xBD\xED\xB8\x80"));
  EXPECT_EQ(ResourceData(u"nxo:\u65e5\u672c/../\u30af.class", kDefaults),
            ExpectedClassBytes("\xE3\x82\xAF"));
}

TEST(ResourceDataTest, OversizedNamesGiveAnEmptyResource) {
  const std::u16string url = u"nxo:" + std::u16string(65536, u'n') + u".class";
  const std::optional<std::string> data = ResourceData(url, kDefaults);
  ASSERT_TRUE(data.has_value());
  EXPECT_TRUE(data->empty());
  // Two bytes per character in UTF-8: 32768 characters no longer fit.
  const std::optional<std::string> wide =
      ResourceData(u"nxo:" + std::u16string(32768, u'\u00e9') + u".class", kDefaults);
  ASSERT_TRUE(wide.has_value());
  EXPECT_TRUE(wide->empty());
}

TEST(ResourceDataTest, SwitchesTurnClassFilesIntoEmptyResources) {
  for (ResourceSwitches switches : {ResourceSwitches{On, Off}, ResourceSwitches{Off, On}}) {
    EXPECT_EQ(ResourceData(u"nxo:A.class", switches), std::string());
    EXPECT_EQ(ResourceData(u"nxo:data/readme.txt", switches), std::string());
    EXPECT_FALSE(ResourceData(u"file:/x.class", switches).has_value());
  }
}

// Each switch is consulted only when the answer depends on it, so its key is
// read at the first call that needs it.
int compatible_asked = 0;
int fake_asked = 0;
bool CountCompatible() { return ++compatible_asked, false; }
bool CountFake() { return ++fake_asked, false; }

TEST(ResourceDataTest, SwitchesAreAskedOnlyWhenNeeded) {
  const ResourceSwitches counting{CountCompatible, CountFake};
  compatible_asked = fake_asked = 0;
  ResourceData(u"file:/x.class", counting);
  EXPECT_EQ(compatible_asked, 0);
  ResourceData(u"nxo:readme.txt", counting);
  EXPECT_EQ(compatible_asked, 1);
  EXPECT_EQ(fake_asked, 0);
  ResourceData(u"nxo:A.class", counting);
  EXPECT_EQ(compatible_asked, 2);
  EXPECT_EQ(fake_asked, 1);
}

class RememberedKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { ForgetRememberedKeysForTesting(); }
  void TearDown() override { PublishNativeContext(nullptr); }
  // |external| lines come before the embedded block, as in a loaded text.
  void Publish(config::LaunchConfig& config, const std::string& external,
               const std::string& embedded) {
    const std::string joined = external.empty() ? embedded : external + "\r\n" + embedded;
    config.SetTextForTesting(joined, static_cast<std::int32_t>(joined.size() - embedded.size()));
    context_->config = &config;
  }
  // A fresh context for the same configuration: nothing remembered yet.
  void ForgetRememberedKeysForTesting() {
    const config::LaunchConfig* config = context_ ? context_->config : nullptr;
    context_.emplace();
    context_->config = config;
    PublishNativeContext(&*context_);
  }

  std::optional<NativeContext> context_;
};

TEST_F(RememberedKeysTest, AbsentConfigurationLeavesEverythingOn) {
  EXPECT_FALSE(CompatibleOn());
  EXPECT_FALSE(FakeClassBytesOff());
  EXPECT_FALSE(UseJarProtocolOff());
}

TEST_F(RememberedKeysTest, FlagsCompareWithoutCase) {
  config::LaunchConfig config;
  Publish(config, "", "compatible TRUE\r\nfakeclassbytes False\r\nusejarprotocol=fALSE");
  EXPECT_TRUE(CompatibleOn());
  EXPECT_TRUE(FakeClassBytesOff());
  EXPECT_TRUE(UseJarProtocolOff());
}

TEST_F(RememberedKeysTest, OtherValuesDoNotCount) {
  config::LaunchConfig config;
  Publish(config, "", "compatible yes\r\nfakeclassbytes no\r\nusejarprotocol false ");
  EXPECT_FALSE(CompatibleOn());
  EXPECT_FALSE(FakeClassBytesOff());
  EXPECT_FALSE(UseJarProtocolOff());
}

TEST_F(RememberedKeysTest, CompatibleComesFromTheEmbeddedBlockOnly) {
  config::LaunchConfig config;
  Publish(config, "compatible true\r\nfakeclassbytes false", "mainclass a.B");
  EXPECT_FALSE(CompatibleOn());
  EXPECT_TRUE(FakeClassBytesOff());
}

TEST_F(RememberedKeysTest, FirstReadingIsKeptUntilForgotten) {
  config::LaunchConfig first;
  Publish(first, "", "compatible true\r\nfakeclassbytes false");
  EXPECT_TRUE(CompatibleOn());
  EXPECT_TRUE(FakeClassBytesOff());
  config::LaunchConfig second;
  Publish(second, "", "compatible false");
  EXPECT_TRUE(CompatibleOn());
  EXPECT_TRUE(FakeClassBytesOff());
  ForgetRememberedKeysForTesting();
  EXPECT_FALSE(CompatibleOn());
  EXPECT_FALSE(FakeClassBytesOff());
}

}  // namespace
}  // namespace nxo::natives
