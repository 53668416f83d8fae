// The launch's pure rules, which end-to-end runs reach only a few ways: how
// a version text is read, how it is held against "minjre" and "maxjre", and
// how "forcecwd" resolves against the application directory.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <span>
#include <string>

#include "launcher/launch.h"
#include "launcher/startup.h"
#include "platform/platform.h"

namespace nxo::launcher {
namespace {

TEST(ScanVersion, ReadsUpToFourNumbersBetweenRunsOfNonDigits) {
  struct Case {
    const char* text;
    int count;
    std::array<int, 4> components;
  } cases[] = {
      {"1.8.0_292", 4, {1, 8, 0, 292}},
      {"1.8", 2, {1, 8, 0, 0}},
      {"17-ea", 1, {17, 0, 0, 0}},
      {"9", 1, {9, 0, 0, 0}},
      {"21.0.1+12", 4, {21, 0, 1, 12}},
      {"1.8.0_292-b10", 4, {1, 8, 0, 292}},
      {"11.0.2-ea+7", 4, {11, 0, 2, 7}},
      {"", 0, {0, 0, 0, 0}},
      {"ea", 0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int components[4] = {0, 0, 0, 0};
    ASSERT_EQ(ScanVersion(c.text, components), c.count);
    for (int i = 0; i < c.count; ++i) EXPECT_EQ(components[i], c.components[i]) << "component " << i;
  }
}

TEST(CheckVersionBounds, ComparesOnlyTheComponentsBothSidesHave) {
  struct Case {
    const char* version;
    const char* min_jre;
    const char* max_jre;
    int result;
  } cases[] = {
      {"1.8.0_292", "1.8", "", kLaunchOk},
      {"1.7.0_80", "1.8", "", kVersionTooLow},
      {"17-ea", "1.8", "", kLaunchOk},
      {"9", "", "1.8", kVersionTooHigh},
      {"21.0.1+12", "17", "21", kLaunchOk},
      {"21.0.1+12", "17", "17.0.9", kVersionTooHigh},
      {"1.8", "1.8.0_300", "", kLaunchOk},  // the shorter side decides how far
      {"1.8.0_292", "1.8.0_300", "", kVersionTooLow},
      {"11.0.2", "1.8", "11", kLaunchOk},
      {"", "1.8", "11", kLaunchOk},  // a version without numbers meets every bound
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " within [" + c.min_jre + ", " + c.max_jre + "]");
    EXPECT_EQ(CheckVersionBounds(c.version, c.min_jre, c.max_jre), c.result);
  }
}

TEST(ResolvePathAgainst, AbsoluteRootedAndRelativePaths) {
  struct Case {
    const char* base;
    const char* path;
    const char* full;
  };
  const bool windows = platform::PathListSeparator() == ';';
  const Case posix_cases[] = {
      {"/opt/app/", "work", "/opt/app/work"},
      {"/opt/app", "work/../logs", "/opt/app/logs"},
      {"/opt/app/", "/var/tmp", "/var/tmp"},
      {"/opt/app/", "./a/./b/", "/opt/app/a/b/"},
  };
  const Case windows_cases[] = {
      {"C:\\app\\", "work", "C:\\app\\work"},
      {"C:\\app", "work\\..\\logs", "C:\\app\\logs"},
      {"C:\\app\\", "D:\\data", "D:\\data"},
      {"C:\\app\\", "\\rooted", "C:\\rooted"},
  };
  for (const Case& c : windows ? std::span<const Case>(windows_cases) : std::span<const Case>(posix_cases)) {
    SCOPED_TRACE(std::string(c.base) + " + " + c.path);
    EXPECT_EQ(ResolvePathAgainst(c.base, c.path), std::optional<std::string>(c.full));
  }
}

}  // namespace
}  // namespace nxo::launcher
