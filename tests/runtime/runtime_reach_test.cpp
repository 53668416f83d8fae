// The search's reach beyond the classic sources: library machine types, the
// vendor keys' version handling, and the trail the search leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "runtime/java_layout.h"
#include "runtime/jre_search.h"
#include "runtime/machine.h"
#include "runtime/vendor_runtimes.h"
#include "support/path.h"
#include "support/trail.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

using test::MakeConfig;

// The full JVM double: a real library of this build's processor.
std::string DoubleLibrary() {
  return test::ProgramDirectory() + "jvm_double/full/" + JvmLibraryName();
}

// A copy of |library| at |path| whose header names |machine| instead: the
// same image as a runtime for another processor would carry.
void CopyForMachine(const std::string& library, const std::string& path, std::uint16_t machine) {
  std::string bytes = nxo::test::ReadFile(library);
  ASSERT_GT(bytes.size(), 0x40u);
  std::size_t field;
  if (bytes.compare(0, 4, "\x7f" "ELF") == 0) {
    field = 18;
  } else {
    ASSERT_EQ(bytes.compare(0, 2, "MZ"), 0);
    const std::uint32_t pe = static_cast<unsigned char>(bytes[0x3c]) |
                             static_cast<unsigned char>(bytes[0x3d]) << 8;
    field = pe + 4;
  }
  bytes[field] = static_cast<char>(machine & 0xff);
  bytes[field + 1] = static_cast<char>(machine >> 8);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  nxo::test::WriteFile(path, bytes);
}

bool IsElf(const std::string& library) {
  return nxo::test::ReadFile(library).compare(0, 4, "\x7f" "ELF") == 0;
}

// A machine field value of another processor than this build's.
std::uint16_t OtherMachineField(const std::string& library) {
  if (IsElf(library)) return OwnMachine() == Machine::kArm64 ? 62 : 183;  // x86-64 or AArch64
  return OwnMachine() == Machine::kX86 ? 0x8664 : 0x014c;                  // AMD64 or i386
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LibraryMachine, ReadsPeAndElfHeadersAndLeavesOtherFilesUnknown) {
  nxo::test::TempDir dir;
  EXPECT_EQ(LibraryMachine(DoubleLibrary()), OwnMachine());
  EXPECT_TRUE(Loadable(LibraryMachine(DoubleLibrary())));

  struct Case {
    std::uint16_t field;
    Machine machine;
  };
  const bool elf = IsElf(DoubleLibrary());
  const std::vector<Case> cases = elf ? std::vector<Case>{{3, Machine::kX86},
                                                          {62, Machine::kX86_64},
                                                          {183, Machine::kArm64},
                                                          {8, Machine::kOther}}
                                      : std::vector<Case>{{0x014c, Machine::kX86},
                                                          {0x8664, Machine::kX86_64},
                                                          {0xaa64, Machine::kArm64},
                                                          {0x0200, Machine::kOther}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const std::string path = dir.File("lib" + std::to_string(c.field));
    CopyForMachine(DoubleLibrary(), path, c.field);
    EXPECT_EQ(LibraryMachine(path), c.machine);
    EXPECT_EQ(Loadable(c.machine), c.machine == OwnMachine());
  }

  // Stand-ins that are no image at all are left for the loader to judge.
  nxo::test::WriteFile(dir.File("text"), "stand-in\n");
  nxo::test::WriteFile(dir.File("short-mz"), "MZ");
  nxo::test::WriteFile(dir.File("bad-pe"), "MZ" + std::string(0x3a, '\0') + "\xff\xff\xff\x7f" +
                                               std::string(64, '\0'));
  for (const char* name : {"text", "short-mz", "bad-pe", "absent"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LibraryMachine(dir.File(name)), Machine::kUnknown);
    EXPECT_TRUE(Loadable(Machine::kUnknown));
  }
}

TEST(VendorVersions, NumbersFollowJavaVersionAndBoundsCompareOverTheShorter) {
  const std::vector<std::pair<std::string, std::vector<int>>> numbers = {
      {"21.0.1.12", {21, 0, 1, 12}}, {"8.0.392.8", {1, 8, 0, 392}}, {"zulu-8", {1, 8}},
      {"jdk-17", {17}},              {"1.8.0_392", {1, 8, 0, 392}}, {"11", {11}},
      {"", {}},
  };
  for (const auto& [text, expected] : numbers) EXPECT_EQ(JavaVersionNumbers(text), expected) << text;

  struct Bounds {
    const char* version;
    const char* min;
    const char* max;
    bool within;
  };
  for (const Bounds& b : std::vector<Bounds>{
           {"21.0.1.12", "", "", true},
           {"21.0.1.12", "17", "", true},
           {"11.0.20", "17", "", false},
           {"21.0.1.12", "", "17.0.99", false},
           {"17.0.9.9", "11", "17", true},  // 17 is 17 over the shorter length
           {"8.0.392.8", "1.8.0", "1.8.0_999", true},
           {"8.0.392.8", "11", "", false},
           {"zulu-17", "1.8", "", true},
       }) {
    EXPECT_EQ(VersionWithinBounds(b.version, b.min, b.max), b.within)
        << b.version << " in [" << b.min << ", " << b.max << "]";
  }
}

class SearchReach : public ::testing::Test {
 protected:
  SearchReach() {
    env_.Unset("JRE_HOME");
    env_.Unset("JAVA_HOME");
    
  }
  ~SearchReach() override {
    trail::Close();
    
  }

  std::string Locate(const std::string& lines) {
    EXPECT_TRUE(trail::OpenDestination(trail_file_.c_str()));
    std::string found = SearchJvmLibrary(MakeConfig(dir_.Str(), dir_.Str(), lines));
    trail::Close();
    return found;
  }
  std::vector<std::string> Trail() { return Lines(nxo::test::ReadFile(trail_file_)); }

  // A runtime home whose library is a copy of the double built for another
  // processor.
  std::string OtherMachineHome() {
    const std::string home = dir_.Str() + "other";
    CopyForMachine(DoubleLibrary(), home + "/" + JvmLibraryName(),
                   OtherMachineField(DoubleLibrary()));
    return home;
  }
  std::string OwnHome() { return DirectoryPart(DoubleLibrary()); }

  nxo::test::TempDir dir_;
  std::string trail_file_ = dir_.File("trail.txt");
  test::ScopedEnvironment env_;
};

TEST_F(SearchReach, ALibraryOfAnotherProcessorGivesWayToALaterOne) {
  const std::string other = OtherMachineHome();
  env_.Set("JRE_HOME", other);
  env_.Set("JAVA_HOME", OwnHome());
  EXPECT_EQ(Locate("jre_order e\n"), OwnHome() + JvmLibraryName());

  // The trail shows both candidates in the order tried, with the reason.
  std::vector<std::string> lines = Trail();
  std::size_t skipped = lines.size(), chosen = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(other + "/" + JvmLibraryName() + ": wrong architecture (") !=
        std::string::npos)
      skipped = i;
    if (lines[i].find("search: chosen " + OwnHome()) != std::string::npos) chosen = i;
  }
  ASSERT_LT(skipped, lines.size()) << nxo::test::ReadFile(trail_file_);
  ASSERT_LT(chosen, lines.size()) << nxo::test::ReadFile(trail_file_);
  EXPECT_LT(skipped, chosen);
  EXPECT_NE(lines[skipped].find(std::string("this launcher is ") + MachineName(OwnMachine())),
            std::string::npos);
}

TEST_F(SearchReach, WhenOnlyAnotherProcessorsRuntimeExistsTheTrailNamesIt) {
  const std::string other = OtherMachineHome();
  env_.Set("JAVA_HOME", other);
  EXPECT_EQ(Locate("jre_order e\n"), "");
  const std::vector<std::string> lines = Trail();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("search: no runtime found; one for another architecture was seen: " +
                              other + "/" + JvmLibraryName()),
            std::string::npos)
      << lines.back();
}

TEST_F(SearchReach, AnExplicitLibraryOfAnotherProcessorIsPassedOver) {
  const std::string other = OtherMachineHome() + "/" + JvmLibraryName();
  env_.Set("JAVA_HOME", OwnHome());
  EXPECT_EQ(Locate("jvmdll " + other + "\njre_order ce\n"), OwnHome() + JvmLibraryName());
}

TEST_F(SearchReach, TheTrailListsEachLetterAndWhyEachCandidateFailed) {
  const std::string empty_home = dir_.Str() + "empty";
  std::filesystem::create_directories(empty_home);
  env_.Set("JAVA_HOME", empty_home);
  EXPECT_EQ(Locate("jvmdll " + dir_.Str() + "gone.lib\njre_order cxe\n"), "");
  const std::string trail = nxo::test::ReadFile(trail_file_);
  const std::vector<std::string> expected_in_order = {
      "search: order \"cxe\"",
      "search: letter c: the jvmdll key",
      "search:   " + dir_.Str() + "gone.lib: missing",
      "search: letter x: nothing (not a source letter)",
      "search: letter e: JRE_HOME and JAVA_HOME",
      "search:  JRE_HOME is not set",
      "search:  JAVA_HOME=" + empty_home,
      "search:   " + empty_home + "/" + JvmLibraryName() + ": missing",
      "search: no runtime found",
  };
  std::size_t at = 0;
  for (const std::string& piece : expected_in_order) {
    std::size_t found = trail.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << trail;
    at = found + piece.size();
  }
}

TEST_F(SearchReach, PathSourceFindsNothingWithoutAJavaLauncher) {
  env_.Set("PATH", dir_.Str() + "nowhere");
  EXPECT_EQ(Locate("jre_order p\n"), "");
  EXPECT_NE(nxo::test::ReadFile(trail_file_).find("search:  no " + JavaLauncherName() +
                                                  " on PATH"),
            std::string::npos);
}

TEST_F(SearchReach, NewLettersCountAsSourcesSoTheOrderIsKept) {
  // An order of new letters only is not replaced by the default order.
  env_.Set("JAVA_HOME", OwnHome());
  env_.Set("PATH", dir_.Str() + "nowhere");
  EXPECT_EQ(Locate("jre_order p\n"), "");
  EXPECT_EQ(std::string(kDefaultJreOrder), "cbsie");
}

}  // namespace
}  // namespace nxo::runtime
