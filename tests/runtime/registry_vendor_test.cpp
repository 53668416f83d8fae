// Runtimes registered under the vendors' own keys, as their installers write
// them (vendor_runtimes.sh writes them with "wine reg add"), found by the
// "v" source: newest first, within minjre/maxjre, passing over a library
// this program's processor cannot load.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "runtime/java_layout.h"
#include "runtime/jre_search.h"
#include "support/trail.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

class VendorRegistry : public ::testing::Test {
 protected:
  VendorRegistry() {
    
    env_.Unset("JRE_HOME");
    env_.Unset("JAVA_HOME");
  }
  ~VendorRegistry() override {
    trail::Close();
    
  }

  std::string Locate(const std::string& lines) {
    
    EXPECT_TRUE(trail::OpenDestination(trail_file_.c_str()));
    std::string found = SearchJvmLibrary(test::MakeConfig(dir_.Str(), dir_.Str(), lines));
    trail::Close();
    return found;
  }
  std::string Trail() { return nxo::test::ReadFile(trail_file_); }

  // The fixture's directory as Windows names it, without a separator at the end.
  std::string fixture_ = platform::GetEnvironment("NXO_VENDOR_RUNTIMES").value_or("");
  nxo::test::TempDir dir_;
  std::string trail_file_ = dir_.File("trail.txt");
  test::ScopedEnvironment env_;
};

TEST_F(VendorRegistry, EachVendorLayoutIsFoundNewestFirstWithinTheBounds) {
  ASSERT_FALSE(fixture_.empty()) << "run through CTest: the fixture names the directory";
  const std::string server = "bin\\server/jvm.dll";
  struct Case {
    const char* bounds;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", fixture_ + "\\corretto22/" + server},  // Amazon Corretto, the newest loadable
      {"maxjre 21", fixture_ + "\\adoptium21\\" + server},
      {"minjre 17\nmaxjre 17", fixture_ + "\\adoptium17\\" + server},
      {"minjre 20\nmaxjre 20", fixture_ + "\\semeru20\\" + server},
      {"minjre 19\nmaxjre 19", fixture_ + "\\zulu19\\" + server},
      {"minjre 16\nmaxjre 16", fixture_ + "\\liberica16/" + server},
      {"minjre 11\nmaxjre 11", fixture_ + "\\microsoft11\\" + server},
      {"maxjre 1.8.0_999", fixture_ + "\\adoptopenjdk8\\" + server},
      {"minjre 26", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bounds);
    EXPECT_EQ(Locate(std::string(c.bounds) + "\njre_order v\n"), c.expected) << Trail();
  }
}

TEST_F(VendorRegistry, AThirtyTwoBitRuntimeIsPassedOverAndTheTrailSaysWhy) {
  ASSERT_FALSE(fixture_.empty());
  // The newest vendor entry holds a real 32-bit jvm.dll, and JRE_HOME names
  // it too; the search passes over it twice and takes the next runtime.
  env_.Set("JRE_HOME", fixture_ + "\\adoptium25");
  const std::string x86 = fixture_ + "\\adoptium25\\bin\\server/jvm.dll";
  const std::string corretto = fixture_ + "\\corretto22/bin\\server/jvm.dll";
  EXPECT_EQ(Locate("jre_order ev\n"), corretto);

  // Read back: the candidates in order, each with its reason.
  const std::string trail = Trail();
  const std::string wrong = ": wrong architecture (x86; this launcher is x86-64)";
  const std::vector<std::string> in_order = {
      "search: order \"ev\"",
      "search: letter e: JRE_HOME and JAVA_HOME",
      "search:  JRE_HOME=" + fixture_ + "\\adoptium25",
      "search:   " + fixture_ + "\\adoptium25/bin\\server/jvm.dll" + wrong,
      "search:  JAVA_HOME is not set",
      "search: letter v: the vendors' registry keys",
      "search:  SOFTWARE\\Eclipse Adoptium\\JDK\\25.0.1.8: version 25.0.1.8, home " + fixture_ +
          "\\adoptium25\\",
      "search:   " + x86 + wrong,
      "search:  SOFTWARE\\JavaSoft\\JDK\\22.0.1.8.1: version 22.0.1.8.1, home " + fixture_ +
          "\\corretto22",
      "search:   " + corretto + ": usable",
      "search: chosen " + corretto,
  };
  std::size_t at = 0;
  for (const std::string& piece : in_order) {
    const std::size_t found = trail.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << trail;
    at = found + piece.size();
  }

  // Versions outside the bounds are named as such.
  EXPECT_EQ(Locate("minjre 21\nmaxjre 21\njre_order v\n"),
            fixture_ + "\\adoptium21\\bin\\server/jvm.dll");
  EXPECT_NE(Trail().find("search:  SOFTWARE\\Eclipse Adoptium\\JDK\\25.0.1.8: version 25.0.1.8 "
                         "outside the version bounds [21, 21]"),
            std::string::npos)
      << Trail();

  // With nothing else within the bounds, the search ends empty and the
  // trail names the first 32-bit runtime it saw.
  EXPECT_EQ(Locate("minjre 25\njre_order ve\n"), "");
  EXPECT_NE(Trail().find("search: no runtime found; one for another architecture was seen: " + x86 +
                         " (x86)"),
            std::string::npos)
      << Trail();
}

}  // namespace
}  // namespace nxo::runtime
