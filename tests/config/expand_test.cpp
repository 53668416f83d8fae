#include "config/expand.h"

#include <gtest/gtest.h>

#include <clocale>

#include "config/launch_config.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace nxo::config {
namespace {

class ExpandValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::PutEnvironment("JAVA_HOME=C:\\jdk");
    platform::PutEnvironment("NXO_OTHER=%JAVA_HOME%");
    platform::PutEnvironment("NXO_TEST_DIR=C:\\nxo");
    ConfigSource source;
    source.executable_path = dir_.File("app.exe");
    source.current_directory = "/work";
    config_ = std::make_unique<LaunchConfig>(source);
  }
  std::string Expand(const std::string& text, bool to_utf8 = false) {
    return config_->ExpandValue(text, to_utf8);
  }

  test::TempDir dir_;
  std::unique_ptr<LaunchConfig> config_;
};

TEST_F(ExpandValueTest, ReferenceForms) {
  struct Case {
    const char* text;
    std::string expanded;
  } cases[] = {
      {"%JAVA_HOME%\\bin", "C:\\jdk\\bin"},
      {"$JAVA_HOME\\bin", "C:\\jdk\\bin"},
      {"${JAVA_HOME}\\bin", "C:\\jdk\\bin"},
      {"%{JAVA_HOME}%\\bin", "C:\\jdk\\bin"},
      {"%JAVA_HOME\\bin", "%JAVA_HOME\\bin"},
      {"%{JAVA_HOME}\\bin", "%{JAVA_HOME}\\bin"},
      {"100%%", "100%"},
      {"$$x", "$x"},
      {"${}$", "$"},
      {"a$", "a$"},
      {"a%", "a%"},
      {"$ x", "$ x"},
      {"$NOPE/x", "$NOPE/x"},
      {"${NOPE", "${NOPE"},
      {"%NXO_OTHER%", "%JAVA_HOME%"},  // inserted text is not scanned again
      {"${NoRoot|fallback}", "fallback"},
      {"${NoRoot|a|b}", "a|b"},
      {"${NoRoot}", "${NoRoot}"},
      {"x${JAVA_HOME}y$JAVA_HOME.z", "xC:\\jdkyC:\\jdk.z"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.text), c.expanded) << c.text;
}

TEST_F(ExpandValueTest, LauncherNames) {
  platform::PutEnvironment("PWD=");
  platform::PutEnvironment("APPLICATION_HOME=");
  EXPECT_EQ(Expand("${APPLICATION_HOME}lib"), dir_.Str() + "lib");
  EXPECT_EQ(Expand("%NXO_APP_PATH%"), dir_.File("app.exe"));
  EXPECT_EQ(Expand("$PWD"), "/work/");
  EXPECT_EQ(Expand("$pwd"), "/work/");
  // An environment variable of the same name wins.
  platform::PutEnvironment("PWD=/from/env");
  EXPECT_EQ(Expand("$PWD"), "/from/env");
  platform::PutEnvironment("PWD=");
}

TEST_F(ExpandValueTest, HomeComesFromHomeDriveAndHomePathOnceBothExist) {
  platform::PutEnvironment("HOME=");
  platform::PutEnvironment("HOMEDRIVE=C:");
  platform::PutEnvironment("HOMEPATH=");
  EXPECT_EQ(Expand("[$HOME]"), "[]");
  platform::PutEnvironment("HOMEPATH=\\Users\\ann");
  EXPECT_EQ(Expand("$HOME"), "C:\\Users\\ann");
  // Kept for the process once it is known.
  platform::PutEnvironment("HOMEPATH=\\Users\\bob");
  EXPECT_EQ(Expand("$HOME"), "C:\\Users\\ann");
}

TEST_F(ExpandValueTest, ConvertingFormTurnsInsertedAnsiTextIntoUtf8) {
  if (std::setlocale(LC_ALL, ".1252") != nullptr) {
    platform::PutEnvironment("NXO_CAFE=Caf\xE9");
    EXPECT_EQ(Expand("x=$NXO_CAFE", true), "x=Caf\xC3\xA9");
    EXPECT_EQ(Expand("x=$NXO_CAFE", false), "x=Caf\xE9");
  } else {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    platform::PutEnvironment("NXO_CAFE=Caf\xC3\xA9");
    EXPECT_EQ(Expand("x=$NXO_CAFE", true), "x=Caf\xC3\xA9");
  }
  std::setlocale(LC_ALL, "C");
}

// Values written into the registry by tests/config/registry_values.sh.
TEST_F(ExpandValueTest, RegistryReferences) {
  if (platform::PathListSeparator() != ';') {
    // No registry: a reference gives its default text or stays as written.
    EXPECT_EQ(Expand("${HKLM\\SOFTWARE\\NxoTest\\Sz|C:\\App}"), "C:\\App");
    EXPECT_EQ(Expand("${HKLM\\SOFTWARE\\NxoTest\\Sz}"), "${HKLM\\SOFTWARE\\NxoTest\\Sz}");
    return;
  }
  struct Case {
    const char* text;
    std::string expanded;
  } cases[] = {
      {"${HKLM\\SOFTWARE\\NxoTest\\Sz}", "C:\\Program Files\\Nxo"},
      {"${HKEY_LOCAL_MACHINE\\SOFTWARE\\NxoTest\\Sz|unused}", "C:\\Program Files\\Nxo"},
      {"%{HKCU\\Software\\NxoTest\\Sz}%", "user value"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Missing|C:\\App}", "C:\\App"},
      {"${HKLM\\SOFTWARE\\NoSuchKey\\Sz|C:\\App}", "C:\\App"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Missing}", "${HKLM\\SOFTWARE\\NxoTest\\Missing}"},
      {"${HKLM\\SOFTWARE\\NxoTest\\}", "key default"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Expand}", "C:\\nxo\\bin"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Dword}", "-1"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Small}", "42"},
      {"${HKLM\\SOFTWARE\\NxoTest\\BigEndian}", "258"},
      {"${HKLM\\SOFTWARE\\NxoTest\\Binary|default}", ""},
      {"${hklm\\SOFTWARE\\NxoTest\\Sz|lower-case root}", "lower-case root"},
      // A value that refers to itself stops at the depth bound, unresolved.
      {"${HKLM\\SOFTWARE\\NxoTest\\Loop}", "${HKLM\\SOFTWARE\\NxoTest\\Loop}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.text), c.expanded) << c.text;
}

}  // namespace
}  // namespace nxo::config
