// Class-data sharing that the launcher manages: one archive of the classes an
// application loads, kept per application, executable and runtime in the
// user's cache, and handed to the JVM on later starts so that it maps those
// classes instead of parsing and verifying them again.
//
// Which mechanism a runtime has is known before the JVM exists, from the
// "release" file of its home. Writing an archive costs the JVM more than the
// whole start (on Java 17 about 100 ms, whatever the application), so the
// first start does not: it only records which classes it loaded, and when it
// has ended the launcher starts a copy of itself in the background, the
// training start, which loads those classes without running the application
// and has the JVM write the archive at its exit. The launcher publishes it
// under its final name only once it is complete, so a start never meets a
// half-written archive. Every failure (no cache, an unwritable directory, a
// damaged archive) only means a start without the archive.
//
// Where the JVM writes archives at exit (Java 13 to 18), the training start
// first has a copy of itself dump a static base archive of exactly the
// classes the JVM's own loaders loaded (the runtime's default archive holds
// others, and misses some of these), and then writes the dynamic archive of
// the rest over it. Later starts map both, and start faster than over the
// runtime's default archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/string_list.h"

namespace nxo::runtime {

enum class SharingMechanism {
  kNone,                // before Java 13: nothing the launcher can manage
  kArchiveAtExit,       // Java 13-18: -XX:ArchiveClassesAtExit, then -XX:SharedArchiveFile
  kAutoCreatedArchive,  // Java 19 to 24: -XX:+AutoCreateSharedArchive
  kAheadOfTimeCache,    // Java 25 and later: -XX:AOTCacheOutput, then -XX:AOTCache
};

// The feature version a runtime's "release" text names in JAVA_VERSION
// ("17.0.15" is 17, "1.8.0_292" is 8); 0 when it names none.
int ReleaseFeatureVersion(const std::string& release_text);

SharingMechanism MechanismOfFeatureVersion(int feature_version);

// The text of the "release" file of the runtime home that holds
// |library_path|, looked for up to four directories above the library; empty
// when there is none.
std::string ReadRuntimeRelease(const std::string& library_path);

// What one start does about sharing: the options it adds, and for an
// archive written at exit the file the JVM writes and the name it is
// published under.
struct SharingPlan {
  std::vector<std::string> options;
  std::string pending_archive;  // empty unless the JVM writes one at exit
  std::string pending_key;      // the published name's key, without size
  std::string archive;          // the published archive handed to the JVM
  std::string base_archive;     // the published base archive below it, if any
  // "<folder><key>.<pid>": the class lists "<...>.jvm.lst" (the JVM's) and
  // "<...>.loader.lst" (the application loader's) that this start records
  // for a training start, or, in a training start, the lists it loads.
  std::string recorded_lists;
  std::string training_lists;
  std::string auto_archive;     // Java 19+: the archive the JVM itself writes
  // In a training start: where a copy of the executable is to dump the base
  // archive before this start's JVM is created (see DumpBaseArchive).
  std::string base_to_dump;
  bool dumps_base = false;      // the copy that dumps it: its JVM ends the process
};

// In a training start, which of its archives the plan is for.
enum class TrainingStep {
  kBaseFirst,  // the base archive first, where the runtime takes one and none is published
  kTopOnly,    // only the archive at exit, over the base archive if there is one
  kBaseDump,   // the copy that dumps the base archive of the lists it is given
};

// The environment variable that makes a start the training start of the
// class lists it names.
inline constexpr const char* kTrainingVariable = "NXO_CDS_TRAINING";
// The environment variable that makes a start the copy that dumps the base
// archive of the training start whose lists it names.
inline constexpr const char* kBaseDumpVariable = "NXO_CDS_BASE";

// The cache folder of one application: |cache_root|/nxo/cds/<executable hash>.
std::string SharingDirectory(const std::string& cache_root, const std::string& executable_path);

// The name every archive of one start's inputs starts with: a hash of what
// the JVM checks an archive against and would refuse it for, so a refused
// archive is never kept: the executable, the runtime library and the
// runtime's own base archives beside it, and the class-path entries, each
// with its path, size and modification time, and |options_text| (the
// configured options: heap size and collector shape an archive). Empty when
// the executable or the library cannot be read.
std::string SharingKey(const std::string& executable_path, const std::string& library_path,
                       const std::string& class_path, const std::string& options_text);

// Whether an option line already chooses an archive, turns sharing off or
// names another system class loader: the launcher then leaves sharing alone.
bool ConfigurationDecidesSharing(const StringList& configured_options);

// Plans sharing for one start. |configured_options| are the option lines:
// one that already chooses an archive or turns sharing off leaves the start
// alone. Old archives of the application are removed on the way.
// |training_lists| is empty, or in a training start the value of
// kTrainingVariable: lists of this folder and key, which the plan takes over
// (renamed to this process) and hands to the JVM; a training start given
// lists of another key or folder gets an empty plan. |step| says which
// archive a training start plans for; with kBaseDump, |training_lists| is
// the value of kBaseDumpVariable, lists another process holds.
SharingPlan PlanClassDataSharing(SharingMechanism mechanism, const std::string& directory,
                                 const std::string& key, const StringList& configured_options,
                                 const std::string& training_lists = std::string(),
                                 TrainingStep step = TrainingStep::kBaseFirst);

// In a training start whose plan has a base_to_dump: runs a copy of
// |executable| (in |directory|) that dumps the base archive there, waits for
// it, and publishes the archive as "<key>-base-<size>.jsa" when the copy
// ended well, or removes what it left. The training start then plans again
// with TrainingStep::kTopOnly.
void DumpBaseArchive(SharingPlan& plan, const std::string& executable, const std::string& directory);

// Once the JVM of a start is gone: publishes what a training start's JVM
// wrote and removes its lists (a training start that wrote no archive leaves
// "<key>.failed", so that later starts do not train again for nothing); or,
// after a start that recorded lists, starts the training start |executable|
// in |directory| (where this process started: relative runtime paths then
// resolve alike). Does each only once.
void FinishSharingPlan(SharingPlan& plan, const std::string& executable, const std::string& directory);

// After the JVM was created with the plan's archive: |vm_info| is its
// "java.vm.info" property, which names "sharing" while classes are mapped
// from archives. A JVM that refused the archive (damaged where its size
// does not show) maps none at all; the archive is removed, with the base
// archive below it, so the next start writes a new one instead of every
// start running without sharing.
void CheckArchiveTaken(const SharingPlan& plan, const std::string& vm_info);

}  // namespace nxo::runtime
