#include <gtest/gtest.h>

#include <clocale>

#include "config/keys.h"
#include "config/launch_config.h"

namespace nxo::config {
namespace {

LaunchConfig WithText(const std::string& text, std::int32_t embedded_start = 0) {
  LaunchConfig config;
  config.SetTextForTesting(text, embedded_start);
  return config;
}

std::string Find(const std::string& text, const char* key) {
  return WithText(text).FindValue(key, LookupScope::kWholeText, ValueForm::kUtf8);
}

TEST(LineGrammar, KeysSeparatorsAndValues) {
  struct Case {
    std::string text;
    const char* key;
    std::string value;
  } cases[] = {
      {"MainClass=app.Main", "mainclass", "app.Main"},
      {"splash v", "splash", "v"},
      {"splash=v", "splash", "v"},
      {"splash = v", "splash", "v"},
      {"splash =v", "splash", "v"},
      {"SPLASH v", "splash", "v"},
      {"splash\tv", "splash", "\tv"},            // a tab is not a space here
      {"   splash v", "splash", "v"},            // leading spaces go
      {"\tsplash v", "splash", ""},              // a leading tab does not
      {"splashtitle T", "splash", ""},           // a longer key is another key
      {"splash_x v", "splash", ""},
      {"splash.x v", "splash", ".x v"},          // "." ends the key
      {"splash", "splash", ""},                  // key alone: empty value
      {"option  -Xmx64m ", "option", "-Xmx64m "},  // trailing blanks stay
      {"splash ==v", "splash", "=v"},            // only one "=" is a separator
      {"# splash v", "splash", ""},              // no comment syntax: no key
      {"a 1\r\n\r\nsplash v\n", "splash", "v"},
      {"a 1\rsplash v", "splash", "v"},
      {"a 1\n\rsplash v", "splash", "v"},
      {"a 1\r\n\nsplash v", "splash", "v"},
      {std::string("a 1\n\0splash v", 13), "splash", ""},  // the text ends at a 0x00
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.text, c.key), c.value) << c.text;
}

TEST(Lookups, FirstLineWinsAndScopesSeeTheirPart) {
  // External part, then the embedded part from index 28.
  std::string text = "splashtitle One\r\nmainclass x\r\nsplashtitle Two\r\nmainclass app.Main\r\n";
  LaunchConfig config = WithText(text, 30);
  EXPECT_EQ(config.FindValue("splashtitle", LookupScope::kWholeText, ValueForm::kAnsi), "One");
  EXPECT_EQ(config.FindValue("splashtitle", LookupScope::kEmbeddedOnly, ValueForm::kAnsi), "Two");
  EXPECT_EQ(keys::MainClass(config), "app.Main");
  std::vector<std::string> seen;
  config.ForEachValue("splashtitle", LookupScope::kWholeText, ValueForm::kAnsi,
                      [&](const std::string& v) { seen.push_back(v); });
  EXPECT_EQ(seen, (std::vector<std::string>{"One", "Two"}));
}

TEST(Lookups, PrefixLookupComparesTheValueAsWritten) {
  struct Case {
    std::string text;
    bool found;
  } cases[] = {
      {"option -XstartOnFirstThread", true},
      {"option -XstartOnFirstThread ", true},
      {"option -XstartOnFirstThread=1", true},
      {"option -XstartOnFirst", false},
      {"option -xstartonfirstthread", false},
      {"option -Xmx1m\r\noption -XstartOnFirstThread", true},
      {"splash -XstartOnFirstThread", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(keys::StartOnFirstThreadOption(WithText(c.text)), c.found ? "-XstartOnFirstThread" : "")
        << c.text;
}

TEST(Lookups, FlagsMustEqualTheWholeWord) {
  EXPECT_EQ(keys::SingleInstance(WithText("singleinstance TRUE")), "TRUE");
  EXPECT_EQ(keys::SingleInstance(WithText("singleinstance true ")), "true ");
}

TEST(Lookups, FlagsAndModesFollowTheOneFlagRule) {
  struct Case {
    const char* value;
    std::optional<bool> flag;
    SingleInstanceMode instance;
    WildcardMode wildcard;
  } cases[] = {
      {"true", true, SingleInstanceMode::kLock, WildcardMode::kPlain},
      {"TrUe", true, SingleInstanceMode::kLock, WildcardMode::kPlain},
      {"FALSE", false, SingleInstanceMode::kOff, WildcardMode::kOff},
      {"true ", std::nullopt, SingleInstanceMode::kOff, WildcardMode::kOff},
      {"yes", std::nullopt, SingleInstanceMode::kOff, WildcardMode::kOff},
      {"", std::nullopt, SingleInstanceMode::kOff, WildcardMode::kOff},
      {"Custom", std::nullopt, SingleInstanceMode::kCustom, WildcardMode::kOff},
      {"AUTO", std::nullopt, SingleInstanceMode::kOff, WildcardMode::kPlain},
      {"all", std::nullopt, SingleInstanceMode::kOff, WildcardMode::kAll},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("value \"") + c.value + "\"");
    EXPECT_EQ(ParseFlag(c.value), c.flag);
    std::string value = c.value;
    EXPECT_EQ(keys::InstanceMode(WithText("singleinstance=" + value)), c.instance);
    EXPECT_EQ(keys::WildcardExpansion(WithText("wildcard=" + value)), c.wildcard);
  }
  // Flags that are on unless cleared, and flags that are off unless set.
  EXPECT_TRUE(keys::UseJarProtocol(WithText("")));
  EXPECT_TRUE(keys::FakeClassBytes(WithText("fakeclassbytes maybe")));
  EXPECT_FALSE(keys::FakeClassBytes(WithText("fakeclassbytes False")));
  EXPECT_FALSE(keys::AsSystemClassLoader(WithText("assystemclassloader maybe")));
  EXPECT_TRUE(keys::AsSystemClassLoader(WithText("assystemclassloader TRUE")));
}

TEST(Lookups, AnsiFormConvertsOnlyNonAsciiValues) {
  LaunchConfig config = WithText("property name=Caf\xC3\xA9\r\noption -Xmx64m");
  EXPECT_EQ(config.FindValue("property", LookupScope::kWholeText, ValueForm::kUtf8), "name=Caf\xC3\xA9");
  EXPECT_EQ(config.FindValue("option", LookupScope::kWholeText, ValueForm::kAnsi), "-Xmx64m");
  // Windows-1252 where the C runtime has it (Windows); a UTF-8 locale
  // elsewhere, whose "ANSI" form is UTF-8 again.
  if (std::setlocale(LC_ALL, ".1252") != nullptr) {
    EXPECT_EQ(config.FindValue("property", LookupScope::kWholeText, ValueForm::kAnsi), "name=Caf\xE9");
  } else {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    EXPECT_EQ(config.FindValue("property", LookupScope::kWholeText, ValueForm::kAnsi), "name=Caf\xC3\xA9");
  }
  std::setlocale(LC_ALL, "C");
}

TEST(Lookups, VmSettingIsExpandedOnceAndDashWhenEmpty) {
  EXPECT_EQ(WithText("").VmSetting(), "-");
  EXPECT_EQ(WithText("vm server").VmSetting(), "server");
}

}  // namespace
}  // namespace nxo::config
