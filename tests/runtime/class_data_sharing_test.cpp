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
      {"JAVA_VERSION=\"24.0.1\"\n", 24, SharingMechanism::kAutoCreatedArchive},
      {"JAVA_RUNTIME_VERSION=\"25.0.3+9-LTS\"\nJAVA_VERSION=\"25.0.3\"\n", 25,
       SharingMechanism::kAheadOfTimeCache},
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

std::string OwnId() { return std::to_string(platform::CurrentProcessId()); }

// Lists as a first start of process |id| leaves them; returns their base.
std::string RecordedLists(const std::string& dir, const std::string& key, const std::string& id) {
  const std::string lists = dir + key + "." + id;
  WriteFile(lists + ".jvm.lst", "java/lang/Object\njavax/swing/JFrame\n");
  WriteFile(lists + ".loader.lst", "app.Main\n");
  return lists;
}

// An id no process has: the first start that recorded the lists has ended.
constexpr const char* kEndedId = "2147483646";

// A start without an archive only records which classes it loads; writing
// the archive is left to a training start, which takes the lists over under
// its own id, has the JVM write the archive at exit, and publishes it.
TEST(ClassDataSharingTest, FirstStartRecordsAndTheTrainingStartPublishesWhatTheJvmWrote) {
  TempDir cache;
  const std::string dir = cache.Str() + "nxo/cds/app/";
  const std::string key = "0123456789abcdef";
  const SharingPlan first = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  EXPECT_TRUE(first.pending_archive.empty());
  EXPECT_EQ(first.recorded_lists, dir + key + "." + OwnId());
  EXPECT_EQ(first.options, (std::vector<std::string>{"-XX:DumpLoadedClassList=" + first.recorded_lists + ".jvm.lst",
                                                      "-Dnxo.cds.classlist=" + first.recorded_lists + ".loader.lst"}));
  EXPECT_TRUE(Names(dir).empty());  // the writability probe went

  const std::string handed = RecordedLists(dir, key, kEndedId);
  SharingPlan training =
      PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, handed, TrainingStep::kTopOnly);
  const std::string own = dir + key + "." + OwnId();
  ASSERT_EQ(training.training_lists, own);
  ASSERT_EQ(training.pending_archive, own + ".tmp");
  EXPECT_TRUE(training.recorded_lists.empty());
  EXPECT_TRUE(HasOption(training, "-XX:ArchiveClassesAtExit=" + training.pending_archive));
  EXPECT_TRUE(HasOption(training, "-Dnxo.cds.train=" + own));
  EXPECT_TRUE(HasOption(training, "-Xshare:auto"));
  EXPECT_TRUE(HasOption(training, "-Xlog:cds=off,cds+dynamic=off"));
  std::vector<std::string> taken{key + "." + OwnId() + ".jvm.lst", key + "." + OwnId() + ".loader.lst",
                                 key + "." + OwnId() + ".tmp"};
  EXPECT_EQ(Names(dir), taken);

  // What the JVM writes at exit.
  WriteFile(training.pending_archive, kArchiveStart + std::string(996, 'x'));
  FinishSharingPlan(training, "/nonexistent", "");
  FinishSharingPlan(training, "/nonexistent", "");  // the second call, from exit, finds nothing
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-1000.jsa"});

  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  EXPECT_TRUE(warm.pending_archive.empty());
  EXPECT_TRUE(warm.recorded_lists.empty());
  EXPECT_TRUE(HasOption(warm, "-XX:SharedArchiveFile=" + dir + key + "-1000.jsa"));
  EXPECT_TRUE(HasOption(warm, "-Xshare:auto"));
  EXPECT_EQ(warm.archive, dir + key + "-1000.jsa");

  // A JVM that maps it says "sharing"; one that refused it does not, and the
  // archive goes so that the next start records anew.
  CheckArchiveTaken(warm, "mixed mode, sharing");
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-1000.jsa"});
  CheckArchiveTaken(warm, "mixed mode");
  EXPECT_TRUE(Names(dir).empty());
}

// The first bytes of a static archive, as the copy's JVM dumps the base.
const std::string kStaticArchiveStart("\xa2\xab\x0b\xf0", 4);

#ifdef _WIN32
const char* const kEndsWell = "C:\\windows\\system32\\hostname.exe";
#else
const char* const kEndsWell = "/bin/true";
#endif

// Where the JVM writes archives at exit, the training start first has a copy
// of the executable dump a base archive of the JVM's list into the name it
// claimed, publishes it once the copy ended well, and then has its own JVM
// write the rest over it. Later starts hand over both, base first.
TEST(ClassDataSharingTest, TrainingDumpsABaseArchiveFirstAndLaterStartsMapBoth) {
  TempDir cache;
  const std::string dir = cache.Str();
  const std::string key = "0123456789abcdef";
  const std::string own = dir + key + "." + OwnId();
  SharingPlan training =
      PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, RecordedLists(dir, key, kEndedId));
  EXPECT_TRUE(training.options.empty());
  EXPECT_TRUE(training.pending_archive.empty());
  EXPECT_EQ(training.base_to_dump, own + ".tmp");
  EXPECT_EQ(training.training_lists, own);

  // The copy's plan, from the lists its environment names: only lists of
  // this folder and key whose pending name is claimed.
  const SharingPlan copy =
      PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, own, TrainingStep::kBaseDump);
  EXPECT_TRUE(copy.dumps_base);
  EXPECT_EQ(copy.options, (std::vector<std::string>{"-Xshare:dump", "-XX:SharedClassListFile=" + own + ".jvm.lst",
                                                     "-XX:SharedArchiveFile=" + own + ".tmp",
                                                     "-Xlog:cds=off,cds+dynamic=off"}));
  EXPECT_TRUE(copy.training_lists.empty());
  RecordedLists(dir, "fedcba9876543210", "42");
  for (const std::string& given : {dir + "fedcba9876543210.42", dir + key + ".42", cache.Str() + "x/" + key}) {
    SCOPED_TRACE(given);
    const SharingPlan refused =
        PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, given, TrainingStep::kBaseDump);
    EXPECT_FALSE(refused.dumps_base);
    EXPECT_TRUE(refused.options.empty());
  }

  // What the copy's JVM dumped, published once the copy ended well.
  WriteFile(training.base_to_dump, kStaticArchiveStart + std::string(96, 'b'));
  DumpBaseArchive(training, kEndsWell, "");
  EXPECT_TRUE(training.base_to_dump.empty());
  const std::string base = dir + key + "-base-100.jsa";
  ASSERT_TRUE(platform::StampOfFile(base).has_value());

  training = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, training.training_lists,
                                  TrainingStep::kTopOnly);
  ASSERT_EQ(training.pending_archive, own + ".tmp");
  EXPECT_EQ(training.options, (std::vector<std::string>{"-XX:SharedArchiveFile=" + base,
                                                         "-XX:ArchiveClassesAtExit=" + own + ".tmp", "-Xshare:auto",
                                                         "-Xlog:cds=off,cds+dynamic=off", "-Dnxo.cds.train=" + own}));

  WriteFile(training.pending_archive, kArchiveStart + std::string(46, 't'));
  FinishSharingPlan(training, "/nonexistent", "");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{key + "-50.jsa", key + "-base-100.jsa"}));
  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {});
  const std::string separator(1, platform::PathListSeparator());
  EXPECT_EQ(warm.options, (std::vector<std::string>{"-XX:SharedArchiveFile=" + base + separator + dir + key + "-50.jsa",
                                                     "-Xshare:auto", "-Xlog:cds=off,cds+dynamic=off"}));
  EXPECT_TRUE(warm.recorded_lists.empty());

  // A JVM that refused them maps nothing: both go.
  CheckArchiveTaken(warm, "mixed mode");
  EXPECT_TRUE(Names(dir).empty());
}

// Until the rest is published, starts take the base archive alone, and
// leave the recording to the training start that runs; with none running
// (it was killed), a start records again beside the base.
TEST(ClassDataSharingTest, BaseArchiveAloneUntilTheRestIsThere) {
  if (platform::ProcessLifeStamp(1) == 0) GTEST_SKIP() << "no process 1 to stand for a training start";
  TempDir cache;
  const std::string dir = cache.Str();
  WriteFile(dir + "k-base-8.jsa", kStaticArchiveStart + "rest");
  WriteFile(dir + "k.1.tmp", "");
  const std::vector<std::string> base_alone{"-XX:SharedArchiveFile=" + dir + "k-base-8.jsa", "-Xshare:auto",
                                            "-Xlog:cds=off,cds+dynamic=off"};
  const SharingPlan meanwhile = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  EXPECT_EQ(meanwhile.options, base_alone);
  EXPECT_EQ(meanwhile.archive, dir + "k-base-8.jsa");
  EXPECT_TRUE(meanwhile.recorded_lists.empty());

  platform::RemoveFile(dir + "k.1.tmp");
  const SharingPlan after = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  ASSERT_FALSE(after.recorded_lists.empty());
  EXPECT_EQ(std::vector<std::string>(after.options.begin(), after.options.begin() + 3), base_alone);
  EXPECT_TRUE(HasOption(after, "-XX:DumpLoadedClassList=" + after.recorded_lists + ".jvm.lst"));
}

// The base archive is only published from a copy that ended well and left
// an archive; anything else goes, and the training start carries on over
// the runtime's own archive.
TEST(ClassDataSharingTest, BaseArchivesOfFailedCopiesAreNotPublished) {
  TempDir cache;
  const std::string dir = cache.Str();
  struct Case {
    const char* executable;
    std::string written;
  } cases[] = {
      {kEndsWell, ""},                                 // the copy dumped nothing
      {kEndsWell, std::string(100, 'x')},              // nor anything like an archive
      {"/nonexistent", kStaticArchiveStart + "rest"},  // it never ran
#ifndef _WIN32
      {"/bin/false", kStaticArchiveStart + "rest"},    // it failed
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    SharingPlan training =
        PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {}, RecordedLists(dir, "k", kEndedId));
    ASSERT_FALSE(training.base_to_dump.empty());
    WriteFile(training.base_to_dump, c.written);
    DumpBaseArchive(training, c.executable, "");
    training = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {}, training.training_lists,
                                    TrainingStep::kTopOnly);
    EXPECT_EQ(training.options.front(), "-XX:ArchiveClassesAtExit=" + training.pending_archive);
    FinishSharingPlan(training, "/nonexistent", "");  // and its JVM wrote nothing either
    platform::RemoveFile(dir + "k.failed");
    EXPECT_TRUE(Names(dir).empty());
  }
}

// A training start that wrote nothing leaves a mark of its key, so that
// every later start does not record and train again for nothing; a new key
// (a rebuilt executable, another runtime) starts afresh.
TEST(ClassDataSharingTest, TrainingThatWritesNothingIsNotRepeated) {
  TempDir cache;
  const std::string dir = cache.Str();
  SharingPlan training = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {},
                                              RecordedLists(dir, "k", kEndedId), TrainingStep::kTopOnly);
  ASSERT_FALSE(training.pending_archive.empty());
  FinishSharingPlan(training, "/nonexistent", "");  // the JVM never wrote (killed, or refused)
  EXPECT_EQ(Names(dir), std::vector<std::string>{"k.failed"});
  const SharingPlan after = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  EXPECT_TRUE(after.options.empty());
  EXPECT_TRUE(after.recorded_lists.empty());
  const SharingPlan rebuilt = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "other", {});
  EXPECT_FALSE(rebuilt.recorded_lists.empty());
  EXPECT_TRUE(Names(dir).empty());
}

// While another live process records or trains for the key, a start leaves
// it to that one, so that a tool started many times in a row leaves one
// training start behind, not one per start; once that process has ended,
// its files go and the next start records.
TEST(ClassDataSharingTest, OneRecordingOrTrainingStartAtATime) {
  if (platform::ProcessLifeStamp(1) == 0) GTEST_SKIP() << "no process 1 to stand for a running start";
  TempDir cache;
  const std::string dir = cache.Str();
  for (const char* busy : {".1.jvm.lst", ".1.tmp"}) {
    SCOPED_TRACE(busy);
    WriteFile(dir + "k" + busy, "");
    for (SharingMechanism mechanism : {SharingMechanism::kArchiveAtExit, SharingMechanism::kAutoCreatedArchive,
                                       SharingMechanism::kAheadOfTimeCache}) {
      const SharingPlan plan = PlanClassDataSharing(mechanism, dir, "k", {});
      EXPECT_TRUE(plan.options.empty());
      EXPECT_TRUE(plan.recorded_lists.empty());
    }
    EXPECT_EQ(Names(dir), std::vector<std::string>{std::string("k") + busy});
    platform::RemoveFile(dir + "k" + busy);
  }
  WriteFile(dir + "k." + kEndedId + ".jvm.lst", "");
  EXPECT_FALSE(PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {}).recorded_lists.empty());
  EXPECT_TRUE(Names(dir).empty());
}

// The environment names the lists, so a training start trusts no name it is
// given: only lists of its own folder and key, with a process id, and with
// the JVM's list present. Anything else plans nothing (and the launcher then
// runs no JVM at all); an archive already published ends the training too.
TEST(ClassDataSharingTest, TrainingStartsTakeOnlyTheirOwnLists) {
  TempDir cache;
  const std::string dir = cache.Str() + "app/";
  const std::string key = "0123456789abcdef";
  RecordedLists(dir, key, kEndedId);
  RecordedLists(dir, "fedcba9876543210", "42");
  const std::string cases[] = {
      dir + "fedcba9876543210.42",            // another key
      cache.Str() + key + "." + kEndedId,     // another folder
      dir + key + ".x1",                      // no process id
      dir + key + ".77",                      // no lists there
      dir + key + "." + kEndedId + "/../x",   // not a plain name
  };
  for (const std::string& given : cases) {
    SCOPED_TRACE(given);
    const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, given);
    EXPECT_TRUE(plan.options.empty());
    EXPECT_TRUE(plan.training_lists.empty());
    EXPECT_TRUE(plan.pending_archive.empty());
  }
  // The recording start has already handed the lists over under this
  // process's id, as it does once it has started the training start.
  RecordedLists(dir, key, OwnId());
  const SharingPlan handed = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {}, dir + key + ".4242");
  EXPECT_EQ(handed.training_lists, dir + key + "." + OwnId());
  platform::RemoveFile(handed.base_to_dump);
  platform::RemoveFile(handed.training_lists + ".jvm.lst");
  platform::RemoveFile(handed.training_lists + ".loader.lst");

  WriteFile(dir + key + "-8.jsa", kArchiveStart + "rest");
  const SharingPlan published = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {},
                                                     dir + key + "." + kEndedId);
  EXPECT_TRUE(published.options.empty());
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-8.jsa"});
}

// After a start that recorded its classes, the training start is started
// only from a JVM list the JVM wrote; when there is none, or the copy cannot
// be started, the lists go and nothing else happens.
TEST(ClassDataSharingTest, NoTrainingStartWithoutListsOrExecutable) {
  TempDir cache;
  const std::string dir = cache.Str();
  SharingPlan first = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  ASSERT_FALSE(first.recorded_lists.empty());
  WriteFile(first.recorded_lists + ".loader.lst", "app.Main\n");  // the JVM wrote no list
  FinishSharingPlan(first, "/bin/true", "");
  EXPECT_TRUE(Names(dir).empty());
  EXPECT_TRUE(first.recorded_lists.empty());

  first = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {});
  RecordedLists(dir, "k", OwnId());
  FinishSharingPlan(first, dir + "no-such-executable", "");
  EXPECT_TRUE(Names(dir).empty());
}

// A published archive of another size was cut short or written to since: the
// JVM must not map it (a short one crashes it), so it goes, and the start
// records anew. Archives, pending archives and lists of other keys (an older
// build of the executable, another runtime) go too; pending archives and
// lists of the key stay while none is published and their process runs, as
// another start may be writing or training.
TEST(ClassDataSharingTest, DamagedAndStaleArchivesAreRemoved) {
  TempDir cache;
  const std::string dir = cache.Str();
  const std::string key = "feedfacefeedface";
  WriteFile(dir + key + "-5000.jsa", std::string(4096, 'x'));  // cut short
  WriteFile(dir + "0000000000000000-10.jsa", std::string(10, 'x'));
  WriteFile(dir + "0000000000000000.77.tmp", "");
  WriteFile(dir + "0000000000000000.77.jvm.lst", "");
  // Pending archives and lists of the key: those whose process still runs
  // stay (process 1 runs wherever the system has one), the others go.
  const bool init_runs = platform::ProcessLifeStamp(1) != 0;
  if (init_runs) {
    WriteFile(dir + key + ".1.tmp", "");
    WriteFile(dir + key + ".1.jvm.lst", "");
  }
  WriteFile(dir + key + ".2147483646.tmp", "");
  WriteFile(dir + key + ".2147483646.loader.lst", "");
  WriteFile(dir + "unrelated.txt", "kept");
  SharingPlan training = PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, key, {},
                                              RecordedLists(dir, key, "2147483645"), TrainingStep::kTopOnly);
  ASSERT_FALSE(training.pending_archive.empty());
  const std::string own = key + "." + OwnId();
  std::vector<std::string> expected{own + ".jvm.lst", own + ".loader.lst", own + ".tmp", "unrelated.txt"};
  if (init_runs) {
    expected.push_back(key + ".1.jvm.lst");
    expected.push_back(key + ".1.tmp");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(dir), expected);

  // Once one is published, left-over pending archives and lists of the key go.
  WriteFile(training.pending_archive, kArchiveStart + std::string(60, 'x'));
  FinishSharingPlan(training, "/nonexistent", "");
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
  EXPECT_FALSE(PlanClassDataSharing(SharingMechanism::kArchiveAtExit, dir, "k", {}).recorded_lists.empty());
  WriteFile(dir + "auto.jsa", std::string(8, '\0'));
  const SharingPlan plan = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "auto", {});
  EXPECT_TRUE(plan.archive.empty());
  EXPECT_FALSE(plan.recorded_lists.empty());
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
  EXPECT_TRUE(plan.recorded_lists.empty());
  EXPECT_TRUE(PlanClassDataSharing(SharingMechanism::kNone, cache.Str(), "k", {}).options.empty());
  EXPECT_TRUE(PlanClassDataSharing(SharingMechanism::kArchiveAtExit, cache.Str(), "", {}).options.empty());
}

TEST(ClassDataSharingTest, OptionLinesThatDecideSharingAreLeftAlone) {
  TempDir cache;
  for (const char* option : {"-Xshare:off", "-Xshare:on", "-XX:SharedArchiveFile=/x.jsa",
                             "-XX:ArchiveClassesAtExit=/y.jsa", "-XX:AOTCache=/z.aot",
                             "-Djava.system.class.loader=app.Loader"}) {
    SCOPED_TRACE(option);
    StringList configured;
    configured.Append("-Xmx64m");
    configured.Append(option);
    EXPECT_TRUE(
        PlanClassDataSharing(SharingMechanism::kArchiveAtExit, cache.Str(), "k", configured).options.empty());
  }
  EXPECT_TRUE(Names(cache.Str()).empty());
}

// Java 19 and later write and check the archive themselves, under one name:
// the first start records, the training start has the JVM create it, and
// later starts hand it over with the same options.
TEST(ClassDataSharingTest, NewerRuntimesCreateTheirArchiveThemselves) {
  TempDir cache;
  const std::string dir = cache.Str();
  WriteFile(dir + "0000000000000000.jsa", "old");
  const SharingPlan first = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "abc", {});
  EXPECT_FALSE(first.recorded_lists.empty());
  EXPECT_TRUE(Names(dir).empty());  // the old archive went, the writability probe too

  SharingPlan training = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "abc", {},
                                              RecordedLists(dir, "abc", kEndedId));
  EXPECT_TRUE(training.pending_archive.empty());
  EXPECT_TRUE(HasOption(training, "-XX:+AutoCreateSharedArchive"));
  EXPECT_TRUE(HasOption(training, "-XX:SharedArchiveFile=" + dir + "abc.jsa"));
  EXPECT_TRUE(HasOption(training, "-Dnxo.cds.train=" + dir + "abc." + OwnId()));
  WriteFile(dir + "abc.jsa", kArchiveStart + "rest");  // what the JVM writes
  FinishSharingPlan(training, "/nonexistent", "");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"abc.jsa"});

  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kAutoCreatedArchive, dir, "abc", {});
  EXPECT_EQ(warm.archive, dir + "abc.jsa");
  EXPECT_TRUE(HasOption(warm, "-XX:+AutoCreateSharedArchive"));
  EXPECT_TRUE(warm.recorded_lists.empty());
}

// Java 25 and later: the training start's JVM writes an ahead-of-time cache
// (a static archive, with its own magic number) under the pending name, and
// later starts hand it over without any -Xshare option, which the JVM
// refuses beside a cache.
TEST(ClassDataSharingTest, NewestRuntimesGetAnAheadOfTimeCache) {
  TempDir cache;
  const std::string dir = cache.Str();
  const std::string key = "aaaabbbbccccdddd";
  EXPECT_FALSE(PlanClassDataSharing(SharingMechanism::kAheadOfTimeCache, dir, key, {}).recorded_lists.empty());
  // A configuration the JVM left beside a cache of a start that has ended goes.
  WriteFile(dir + key + ".2147483645.tmp.config", "");
  SharingPlan training = PlanClassDataSharing(SharingMechanism::kAheadOfTimeCache, dir, key, {},
                                              RecordedLists(dir, key, kEndedId));
  ASSERT_FALSE(training.pending_archive.empty());
  EXPECT_EQ(training.options,
            (std::vector<std::string>{"-XX:AOTCacheOutput=" + training.pending_archive, "-Xlog:cds=off,aot=off",
                                      "-Dnxo.cds.train=" + training.training_lists}));
  WriteFile(training.pending_archive, std::string("\xa2\xab\x0b\xf0", 4) + std::string(60, 'x'));
  FinishSharingPlan(training, "/nonexistent", "");
  EXPECT_EQ(Names(dir), std::vector<std::string>{key + "-64.jsa"});
  const SharingPlan warm = PlanClassDataSharing(SharingMechanism::kAheadOfTimeCache, dir, key, {});
  EXPECT_EQ(warm.archive, dir + key + "-64.jsa");
  EXPECT_EQ(warm.options, (std::vector<std::string>{"-XX:AOTCache=" + warm.archive, "-Xlog:cds=off,aot=off"}));
}

}  // namespace
}  // namespace nxo::runtime
