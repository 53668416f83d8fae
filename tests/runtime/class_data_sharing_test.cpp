// The launcher's side of class-data sharing: which mechanism a runtime's
// release file selects, and how the cache folder is planned, tidied and
// published, on real files. The JVM's side is tested end to end with the
// installed JDK (tests/launcher/test_cds_linux.py).
#include "runtime/class_data_sharing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/test_util.h"

namespace nxo::runtime {
namespace {

using test::TempDir;
using test::WriteFile;

// The first bytes of every dynamic archive: the JVM's magic number.
const std::string kArchiveStart("\xa8\xab\x0b\xf0", 4);

TEST(ClassDataSharingTest, ReleaseFileNamesTheMechanism) {
  struct Case {
    const char* release;
    int feature;
    SharingMechanism mechanism;
  };
  const Case cases[] = {
      {"IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.15\"\n", 17, SharingMechanism::kArchiveAtExit},
      {"JAVA_VERSION=\"13\"\r\n", 13, SharingMechanism::kArchiveAtExit},
      {"JAVA_VERSION=\"18.0.2.1\"", 18, SharingMechanism::kArchiveAtExit},
      {"JAVA_VERSION=\"19-ea\"\n", 19, SharingMechanism::kAutoCreatedArchive},
      {"JAVA_RUNTIME_VERSION=\"25.0.3+9-LTS\"\nJAVA_VERSION=\"25.0.3\"\n", 25,
       SharingMechanism::kAutoCreatedArchive},
      {"JAVA_VERSION=\"1.8.0_292\"\n", 8, SharingMechanism::kNone},
      {"JAVA_VERSION=\"12.0.1\"\n", 12, SharingMechanism::kNone},
      {"JAVA_VERSION=\"\"\n", 0, SharingMechanism::kNone},
      {"JAVA_VERSION_DATE=\"2025-04-15\"\n", 0, SharingMechanism::kNone},
      {"", 0, SharingMechanism::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    EXPECT_EQ(ReleaseFeatureVersion(c.release), c.feature);
    EXPECT_EQ(MechanismOfFeatureVersion(ReleaseFeatureVersion(c.release)), c.mechanism);
  }
}

TEST(ClassDataSharingTest, ReleaseFileIsFoundAboveTheLibrary) {
  TempDir home;
  std::filesystem::create_directories(home.Path() / "lib" / "server");
  WriteFile(home.File("release"), "JAVA_VERSION=\"17.0.1\"\n");
  WriteFile(home.File("lib/server/libjvm.so"), "");
  EXPECT_EQ(ReleaseFeatureVersion(ReadRuntimeRelease(home.File("lib/server/libjvm.so"))), 17);
  EXPECT_EQ(ReadRuntimeRelease(""), "");
}

// The key changes with everything the JVM checks an archive against, so a
// rebuilt executable, an updated runtime, a changed class-path jar or other
// heap options never meet an archive the JVM would refuse.
TEST(ClassDataSharingTest, KeyFollowsWhatTheJvmChecks) {
  TempDir dir;
  WriteFile(dir.File("app"), "one");
  WriteFile(dir.File("libjvm.so"), "jvm");
  WriteFile(dir.File("extra.jar"), "jar");
  const std::string class_path = dir.File("app") + platform::PathListSeparator() + dir.File("extra.jar");
  auto key = [&](const std::string& options) {
    return SharingKey(dir.File("app"), dir.File("libjvm.so"), class_path, options);
  };
  const std::string first = key("-Xmx64m\n");
  ASSERT_EQ(first.size(), 16u);
  EXPECT_EQ(key("-Xmx64m\n"), first);
  std::vector<std::string> keys{first, key("-Xmx40g\n")};
  WriteFile(dir.File("extra.jar"), "jar, rebuilt");
  keys.push_back(key("-Xmx64m\n"));
  WriteFile(dir.File("classes.jsa"), "the runtime's base archive, dumped anew");
  keys.push_back(key("-Xmx64m\n"));
  WriteFile(dir.File("app"), "one more");
  keys.push_back(key("-Xmx64m\n"));
  WriteFile(dir.File("libjvm.so"), "jvm 2");
  keys.push_back(key("-Xmx64m\n"));
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end());
  EXPECT_EQ(SharingKey(dir.File("missing"), dir.File("libjvm.so"), class_path, ""), "");
  EXPECT_EQ(SharingKey(dir.File("app"), dir.File("missing.so"), class_path, ""), "");
  EXPECT_NE(SharingDirectory(dir.Str(), dir.File("app")), SharingDirectory(dir.Str(), dir.File("other")));
}

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool HasOption(const SharingPlan& plan, const std::string& option) {
  return std::find(plan.options.begin(), plan.options.end(), option) != plan.options.end();
}

TEST(ClassDataSharingTest, FirstStartClaimsAPendingArchiveAndPublishesWhatTheJvmWrote) {
  TempDir cache;
  const std::string dir = cache.Str() + "nxo/cds/app/";
  const std::string key = "0123456789abcdef";
  const SharingPlan first = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  ASSERT_FALSE(first.pending_archive.empty());
  EXPECT_TRUE(HasOption(first, "-XX:ArchiveClassesAtExit=" + first.pending_archive));
  EXPECT_TRUE(HasOption(first, "-Xshare:auto"));
  EXPECT_TRUE(HasOption(first, "-Xlog:cds=off,cds+dynamic=off"));

  // What the JVM writes at exit.
  WriteFile(first.pending_archive, kArchiveStart + std::string(996, 'x'));
  PublishPendingArchive(first);
  PublishPendingArchive(first);  // the second call, from exit, finds nothing
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-1000.jsa"});

  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  EXPECT_TRUE(warm.pending_archive.empty());
  EXPECT_TRUE(HasOption(warm, "-XX:SharedArchiveFile=" + dir + key + "-1000.jsa"));
  EXPECT_TRUE(HasOption(warm, "-Xshare:auto"));
  EXPECT_EQ(warm.archive, dir + key + "-1000.jsa");

  // A JVM that maps it says "sharing"; one that refused it does not, and the
  // archive goes so that the next start writes a new one.
  CheckArchiveTaken(warm, "mixed mode, sharing");
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-1000.jsa"});
  CheckArchiveTaken(warm, "mixed mode");
  EXPECT_TRUE(Names(dir).empty());
}

TEST(ClassDataSharingTest, NothingWrittenMeansNothingPublished) {
  TempDir cache;
  const std::string dir = cache.Str() + "app/";
  const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  ASSERT_FALSE(plan.pending_archive.empty());
  PublishPendingArchive(plan);  // the JVM never wrote (killed, or refused)
  EXPECT_TRUE(Names(dir).empty());
}

// A published archive of another size was cut short or written to since: the
// JVM must not map it (a short one crashes it), so it goes, and the start
// writes a new one. Archives of other keys (an older build of the executable,
// another runtime) go too; pending archives of the key stay while none is
// published and their writer runs, as another start may be writing one.
TEST(ClassDataSharingTest, DamagedAndStaleArchivesAreRemoved) {
  TempDir cache;
  const std::string dir = cache.Str();
  const std::string key = "feedfacefeedface";
  WriteFile(dir + key + "-5000.jsa", std::string(4096, 'x'));  // cut short
  WriteFile(dir + "0000000000000000-10.jsa", std::string(10, 'x'));
  WriteFile(dir + "0000000000000000.77.tmp", "");
  // Pending archives of the key: one whose writer still runs stays (process
  // 1 runs wherever the system has one), one whose writer has ended goes.
  const bool init_runs = platform::ProcessLifeStamp(1) != 0;
  if (init_runs) WriteFile(dir + key + ".1.tmp", "");
  WriteFile(dir + key + ".2147483646.tmp", "");
  WriteFile(dir + "unrelated.txt", "kept");
  const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  ASSERT_FALSE(plan.pending_archive.empty());
  const std::string own = plan.pending_archive.substr(dir.size());
  std::vector<std::string> expected{own, "unrelated.txt"};
  if (init_runs) expected.push_back(key + ".1.tmp");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(dir), expected);

  // Once one is published, left-over pending archives of the key go.
  WriteFile(plan.pending_archive, kArchiveStart + std::string(60, 'x'));
  PublishPendingArchive(plan);
  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  EXPECT_TRUE(HasOption(warm, "-XX:SharedArchiveFile=" + dir + key + "-64.jsa"));
  expected = {key + "-64.jsa", "unrelated.txt"};
  EXPECT_EQ(Names(dir), expected);
}

// An archive whose header was overwritten keeps its size; the JVM would
// refuse it silently (and newer ones with a warning), so it goes before the
// start.
TEST(ClassDataSharingTest, ArchivesWithoutTheJvmsMagicAreRemoved) {
  TempDir cache;
  const std::string dir = cache.Str();
  WriteFile(dir + "k-8.jsa", std::string(8, '\0'));
  EXPECT_FALSE(PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {}).pending_archive.empty());
  WriteFile(dir + "auto.jsa", std::string(8, '\0'));
  const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "auto", {});
  EXPECT_TRUE(plan.archive.empty());
  EXPECT_TRUE(Names(dir).empty()) << Names(dir).size();
  WriteFile(dir + "auto.jsa", kArchiveStart + "rest");
  EXPECT_EQ(PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "auto", {}).archive,
            dir + "auto.jsa");
}

TEST(ClassDataSharingTest, UnusableCacheMeansAStartWithoutSharing) {
  TempDir cache;
  WriteFile(cache.File("file"), "a file where the folder should be");
  const SharingPlan plan =
      PlanClassDataSharing(SharingMechanism::kArchiveAtExit, cache.File("file") + "/cds/", "k", {});
  EXPECT_TRUE(plan.options.empty());
  EXPECT_TRUE(plan.pending_archive.empty());
  EXPECT_TRUE(PlanClassDataSharing(SharingMechanism::kNone, cache.Str(), "k", {}).options.empty());
  EXPECT_TRUE(PlanClassDataSharing(SharingMechanism::kArchiveAtExit, cache.Str(), "", {}).options.empty());
}

TEST(ClassDataSharingTest, OptionLinesThatDecideSharingAreLeftAlone) {
  TempDir cache;
  for (const char* option : {"-Xshare:off", "-Xshare:on", "-XX:SharedArchiveFile=/x.jsa",
                             "-XX:ArchiveClassesAtExit=/y.jsa", "-XX:AOTCache=/z.aot"}) {
    SCOPED_TRACE(option);
    StringList configured;
    configured.Append("-Xmx64m");
    configured.Append(option);
    EXPECT_TRUE(
        PlanClassDataSharing(SharingMechanism::kArchiveAtExit, cache.Str(), "k", configured).options.empty());
  }
  EXPECT_TRUE(Names(cache.Str()).empty());
}

TEST(ClassDataSharingTest, NewerRuntimesCreateTheirArchiveThemselves) {
  TempDir cache;
  const std::string dir = cache.Str();
  WriteFile(dir + "0000000000000000.jsa", "old");
  const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "abc", {});
  EXPECT_TRUE(plan.pending_archive.empty());
  EXPECT_TRUE(HasOption(plan, "-XX:+AutoCreateSharedArchive"));
  EXPECT_TRUE(HasOption(plan, "-XX:SharedArchiveFile=" + dir + "abc.jsa"));
  EXPECT_TRUE(Names(dir).empty());  // the old archive went, the writability probe too
}

}  // namespace
}  // namespace nxo::runtime
