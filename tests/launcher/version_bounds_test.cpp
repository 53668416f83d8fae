#include <gtest/gtest.h>

#include "launcher/launch.h"
#include "support/trail.h"
#include "tests/test_util.h"

namespace nxo::launcher {
namespace {

TEST(ScanVersion, ReadsUpToFourNumbersAsTheScanFormatDoes) {
  struct Case {
    const char* text;
    int count;
    const char* first;
  } cases[] = {
      {"1.8.0_292", 4, "1"}, {"11.0.2", 3, "11"}, {"1.6", 2, "1"},   {"17-ea", 1, "17"},
      {"1.", 1, "1"},        {"", 0, ""},         {"abc", 0, ""},    {"  007.1", 2, "7"},
      {"1.2.3.4.5", 4, "1"}, {"+3", 1, "3"},      {"4294967313", 1, "4294967313"},
  };
  for (const Case& c : cases) {
    VersionComponents components;
    EXPECT_EQ(ScanVersion(c.text, components), c.count) << c.text;
    if (c.count > 0) {
      EXPECT_EQ(components.value[0], c.first) << c.text;
    }
  }
}

// Bounds of any length compare by value: nothing wraps around to a small
// number, and nothing too long to hold is dropped.
TEST(CheckVersionBounds, NumbersOfAnyLengthCompareByValue) {
  struct Case {
    const char* version;
    const char* min_jre;
    const char* max_jre;
    int result;
  } cases[] = {
      {"17.0.2", "4294967313", "", kVersionTooLow},          // 2^32 + 17, not 17
      {"17.0.2", "4294967296", "", kVersionTooLow},          // 2^32, not 0
      {"17.0.2", "2147483648", "", kVersionTooLow},          // 2^31, not negative
      {"17.0.2", "99999999999999999999", "", kVersionTooLow},
      {"17.0.2", "", "99999999999999999999", kLaunchOk},
      {"17.0.2", "", "4294967297", kLaunchOk},               // 2^32 + 1, not 1
      {"17.0.2", "17.0.00000000000000000000002", "", kLaunchOk},
      {"17.0.2", "17.0.3", "", kVersionTooLow},
      {"17.0.2", "1.6", "11", kVersionTooHigh},
      {"1.8.0_292", "1.6", "1.8", kLaunchOk},
      {"9.0.4", "", "1.8", kVersionTooHigh},
      {"1.5.0_22", "1.6", "", kVersionTooLow},
      {"9", "1.8.0", "", kLaunchOk},
      {"17", "-1", "", kLaunchOk},
      {"17", "", "-1", kVersionTooHigh},
      {"17", "abc", "xyz", kLaunchOk},                        // no numbers: no bound
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckVersionBounds(c.version, c.min_jre, c.max_jre), c.result)
        << c.version << " against [" << c.min_jre << ", " << c.max_jre << "]";
  }
}

TEST(CheckVersionBounds, TheTrailSaysWhenABoundIsIgnored) {
  nxo::test::TempDir dir;
  const std::string trail_file = dir.File("trail.txt");
  ASSERT_TRUE(trail::OpenDestination(trail_file.c_str()));
  EXPECT_EQ(CheckVersionBounds("17.0.2", "latest", "x9"), kLaunchOk);
  trail::Close();
  const std::string trail = nxo::test::ReadFile(trail_file);
  EXPECT_NE(trail.find("minjre \"latest\" ignored"), std::string::npos) << trail;
  EXPECT_NE(trail.find("maxjre \"x9\" ignored"), std::string::npos) << trail;
}

}  // namespace
}  // namespace nxo::launcher
