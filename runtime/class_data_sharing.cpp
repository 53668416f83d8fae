#include "runtime/class_data_sharing.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/platform.h"
#include "support/format.h"
#include "support/path.h"
#include "support/trail.h"

namespace nxo::runtime {

namespace {

constexpr std::string_view kVersionLine = "JAVA_VERSION=";
constexpr std::string_view kArchiveSuffix = ".jsa";
constexpr std::string_view kPendingSuffix = ".tmp";
constexpr std::string_view kListSuffix = ".lst";
constexpr std::string_view kCacheConfigurationSuffix = ".tmp.config";
constexpr std::string_view kJvmListSuffix = ".jvm.lst";
constexpr std::string_view kLoaderListSuffix = ".loader.lst";
// "<key>.failed": a training start of this key wrote no archive.
constexpr std::string_view kFailedSuffix = ".failed";
// "<key>-base-<size>.jsa": the static base archive below "<key>-<size>.jsa".
constexpr std::string_view kBaseInfix = "-base-";

// Options by which the configuration already decides about sharing; the
// launcher then adds nothing of its own.
// A system class loader of the application's own is among them: with one,
// the JVM maps no class of the application's from an archive at all, and
// says so on standard error whenever it is given one.
constexpr std::string_view kOwnSharingOptions[] = {
    "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
    "-XX:SharedClassListFile", "-Xshare:off", "-Xshare:on", "-Xshare:dump", "-XX:AOTCache", "-XX:AOTMode",
    "-Djava.system.class.loader=",
};

// Shared archives that cannot be used are passed over quietly: the JVM falls
// back to loading classes as usual and says nothing on standard error.
constexpr const char* kQuietSharingLog = "-Xlog:cds=off,cds+dynamic=off";
constexpr const char* kQuietSharingOptions[] = {"-Xshare:auto", kQuietSharingLog};
// The same for an ahead-of-time cache, which refuses every -Xshare option
// and logs under its own tag.
constexpr const char* kQuietCacheOption = "-Xlog:cds=off,aot=off";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// FNV-1a, 64 bits: enough to tell executables and runtimes apart in a
// per-user cache, and no more code than that needs.
void Mix(std::uint64_t& hash, std::string_view bytes) {
  for (unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  hash ^= 0xff;  // ends the field, so "ab"+"c" and "a"+"bc" differ
  hash *= 0x100000001b3ULL;
}

std::string Decimal(std::uint64_t number) {
  char text[24];
  Format(text, sizeof text, "%llu", static_cast<unsigned long long>(number));
  return text;
}

void MixNumber(std::uint64_t& hash, std::uint64_t number) { Mix(hash, Decimal(number)); }

std::string Hex(std::uint64_t hash) {
  char text[20];
  Format(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ULL;

// Every dynamic archive begins with the JVM's magic number 0xf00baba8, and
// every static one (an ahead-of-time cache is one) with 0xf00baba2, in the
// machine's (little-endian) order. A file that does not is no archive the
// JVM would take; handed over, it would cost the start all sharing and, on
// newer runtimes, a warning on standard error.
bool StartsLikeAnArchive(const std::string& path) {
  static constexpr char kMagicEnd[] = {'\xab', '\x0b', '\xf0'};
  platform::RandomAccessFile file;
  std::string bytes;
  return file.Open(path) && file.ReadAt(0, 4, bytes) && bytes.size() == 4 &&
         (bytes[0] == '\xa8' || bytes[0] == '\xa2') &&
         std::string_view(bytes).substr(1) == std::string_view(kMagicEnd, sizeof kMagicEnd);
}

// "<prefix><size>.jsa": an archive the launcher published, whose size is
// what the JVM wrote. A file of another size was cut short or added to since,
// and the JVM must never map it (a short archive crashes it).
bool IsIntactPublishedArchive(const std::string& directory, const std::string& name,
                              const std::string& prefix) {
  if (!StartsWith(name, prefix) || !EndsWith(name, kArchiveSuffix)) return false;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - kArchiveSuffix.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::optional<platform::FileStamp> stamp = platform::StampOfFile(directory + name);
  return stamp && stamp->size != 0 && Decimal(stamp->size) == digits &&
         StartsLikeAnArchive(directory + name);
}

// "<key>.<pid>.tmp" or "<key>.<pid>.*.lst" whose process has ended: the JVM
// wrote it, or not, and nobody will publish or train from it now (the
// process was killed, or its exit did not run the launcher's handlers; a
// training start takes lists over under its own id first). A reused id only
// keeps it longer.
bool IsOrphanedPending(const std::string& name, const std::string& key) {
  const std::size_t digits = key.size() + 1;
  const std::size_t end = name.find('.', digits);
  if (end == std::string::npos || end <= digits) return true;
  const std::string id = name.substr(digits, end - digits);
  if (id.find_first_not_of("0123456789") != std::string::npos) return true;
  return platform::ProcessLifeStamp(static_cast<platform::ProcessId>(std::atol(id.c_str()))) == 0;
}

// Looks through the application's folder: returns the intact published
// archive of |key| (or, for |auto_name|, keeps that file) and removes every
// other archive, and pending archives and lists of other keys. Pending
// archives and lists of this key stay while none is published and their
// process runs: another start may be writing or training. What it found
// besides goes into |found|.
struct TidyFindings {
  bool training_failed = false;  // a training start of this key wrote no archive
  bool others_busy = false;      // another live process records or trains for this key
  std::string base_archive;      // the intact published base archive of this key
};

std::string TidySharingDirectory(const std::string& directory, const std::string& key,
                                 const std::string& auto_name, TidyFindings& found) {
  std::vector<std::string> names;
  platform::ListDirectory(directory + "*", [&](const platform::DirectoryEntry& entry) {
    if (!entry.is_directory) names.push_back(entry.name);
    return true;
  });
  found = TidyFindings();
  const std::string own_id = "." + Decimal(platform::CurrentProcessId()) + ".";
  std::string published;
  std::vector<std::string> pending_of_key;
  for (const std::string& name : names) {
    const bool archive = EndsWith(name, kArchiveSuffix);
    // "<key>.<pid>.tmp.config" is the configuration a JVM writing an
    // ahead-of-time cache keeps beside it while it does.
    const bool pending = EndsWith(name, kPendingSuffix) || EndsWith(name, kListSuffix) ||
                         EndsWith(name, kCacheConfigurationSuffix);
    const bool failed = EndsWith(name, kFailedSuffix);
    if (!archive && !pending && !failed) continue;
    if (failed && name == key + std::string(kFailedSuffix)) {
      found.training_failed = true;
      continue;
    }
    if (pending && StartsWith(name, key + ".") && !IsOrphanedPending(name, key)) {
      pending_of_key.push_back(name);
      if (name.compare(key.size(), own_id.size(), own_id) != 0) found.others_busy = true;
      continue;
    }
    if (archive && name == auto_name && StartsLikeAnArchive(directory + name)) continue;
    if (archive && found.base_archive.empty() &&
        IsIntactPublishedArchive(directory, name, key + std::string(kBaseInfix))) {
      found.base_archive = directory + name;
      continue;
    }
    if (archive && published.empty() && IsIntactPublishedArchive(directory, name, key + "-")) {
      published = name;
      continue;
    }
    NXO_TRAIL("cds", "removing %s", name.c_str());
    platform::RemoveFile(directory + name);
  }
  if (!published.empty())
    for (const std::string& name : pending_of_key) platform::RemoveFile(directory + name);
  return published.empty() ? std::string() : directory + published;
}

void AddQuietOptions(SharingPlan& plan) {
  for (const char* option : kQuietSharingOptions) plan.options.emplace_back(option);
}

// Hands the JVM |archives| ("base" or "base<separator>top", as the JVM
// reads the option).
void HandOver(SharingPlan& plan, const std::string& archives) {
  plan.options.push_back("-XX:SharedArchiveFile=" + archives);
  AddQuietOptions(plan);
}

// A JVM that cannot write its archive at exit ends the process with code 1
// and a message, after the application has run: the launcher asks for an
// archive only where one fits with room to spare, and only once a file of its
// own there proves the folder writable.
constexpr std::uint64_t kSpaceForArchive = 256ull << 20;

// "<directory><key>.<pid>": the start of the names of this process's files
// for |key|, its pending archive and its class lists.
std::string OwnFilesBase(const std::string& directory, const std::string& key) {
  return directory + key + "." + Decimal(platform::CurrentProcessId());
}

std::string ClaimPendingName(const std::string& directory, const std::string& key) {
  const std::optional<std::uint64_t> space = platform::FreeDiskSpace(directory);
  if (!space || *space < kSpaceForArchive) {
    NXO_TRAIL("cds", "too little free space in %s for an archive", directory.c_str());
    return std::string();
  }
  const std::string name = OwnFilesBase(directory, key) + std::string(kPendingSuffix);
  platform::RemoveFile(name);  // left by an earlier process of the same id
  return platform::CreateNewFile(name) ? name : std::string();
}

// Whether a JVM could write an archive of |key| in |directory|, proved by
// claiming a pending name there and letting it go again.
bool ArchiveCouldBeWritten(const std::string& directory, const std::string& key) {
  const std::string probe = ClaimPendingName(directory, key);
  if (probe.empty()) {
    NXO_TRAIL("cds", "%s is not writable; starting without an archive", directory.c_str());
    return false;
  }
  platform::RemoveFile(probe);
  return true;
}

// A start without an archive (or with the base archive alone) records the
// classes it loads: the JVM lists those of its own loaders, the
// application's loader the ones it defines. Only where an archive could be
// written later.
void AddRecording(SharingPlan& plan, const std::string& directory, const std::string& key) {
  if (!ArchiveCouldBeWritten(directory, key)) return;
  plan.recorded_lists = OwnFilesBase(directory, key);
  NXO_TRAIL("cds", "no archive yet; recording the loaded classes in %s.*", plan.recorded_lists.c_str());
  plan.options.push_back("-XX:DumpLoadedClassList=" + plan.recorded_lists + std::string(kJvmListSuffix));
  plan.options.push_back("-Dnxo.cds.classlist=" + plan.recorded_lists + std::string(kLoaderListSuffix));
}

// Renames the lists "<from>.*" to "<to>.*"; true when the JVM's list moved.
bool MoveLists(const std::string& from, const std::string& to) {
  if (!platform::RenameFile(from + std::string(kJvmListSuffix), to + std::string(kJvmListSuffix))) return false;
  platform::RenameFile(from + std::string(kLoaderListSuffix), to + std::string(kLoaderListSuffix));
  return true;
}

// Whether |lists| is "<directory><key>.<digits>": a name the environment
// hands over is trusted no further.
bool NamesListsOf(const std::string& directory, const std::string& key, const std::string& lists) {
  const std::string prefix = directory + key + ".";
  if (!StartsWith(lists, prefix) || lists.size() == prefix.size()) return false;
  return lists.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

// The lists of a training start, under this process's id, so that no other
// start tidies them away while it runs: the start that recorded them renames
// them to the training start's id as soon as it has started it, before it
// ends itself; should the training start look first, it renames them
// itself. Empty when |given| is not "<directory><key>.<digits>" or neither
// name holds the JVM's list.
std::string TakeOverLists(const std::string& directory, const std::string& key, const std::string& given) {
  if (!NamesListsOf(directory, key, given)) return std::string();
  const std::string taken = OwnFilesBase(directory, key);
  if (platform::StampOfFile(taken + std::string(kJvmListSuffix))) return taken;
  return taken != given && MoveLists(given, taken) ? taken : std::string();
}

void RemoveLists(const std::string& lists) {
  platform::RemoveFile(lists + std::string(kJvmListSuffix));
  platform::RemoveFile(lists + std::string(kLoaderListSuffix));
}

// Publishes the archive a JVM wrote into |pending|, once that JVM is done
// with it: renamed to "<prefix><size>.jsa" beside it, or removed when empty
// or missing. Whether there was one to publish.
bool PublishArchive(const std::string& pending, const std::string& prefix) {
  const std::optional<platform::FileStamp> stamp = platform::StampOfFile(pending);
  if (!stamp || stamp->size == 0) {
    platform::RemoveFile(pending);
    return false;
  }
  const std::string published = DirectoryPart(pending) + prefix + Decimal(stamp->size) + std::string(kArchiveSuffix);
  if (!platform::RenameFile(pending, published)) platform::RemoveFile(pending);
  return true;
}

// Publishes the archive the JVM wrote at exit (on its way out) as
// "<key>-<size>.jsa". Whether the JVM wrote one.
bool PublishPendingArchive(const SharingPlan& plan) {
  return PublishArchive(plan.pending_archive, plan.pending_key + "-");
}

void AddTrainingProperty(SharingPlan& plan, const std::string& lists) {
  plan.training_lists = lists;
  plan.options.push_back("-Dnxo.cds.train=" + lists);
}

// The copy that dumps a training start's base archive: the JVM loads the
// classes of the JVM's list of |lists| ("<directory><key>.<id>", which the
// training start holds) and writes them into the name the training start
// claimed beside them, then ends the process. Only lists of this folder and
// key, with that name claimed.
SharingPlan BaseDumpPlan(const std::string& directory, const std::string& key, const std::string& lists) {
  SharingPlan plan;
  const std::string pending = lists + std::string(kPendingSuffix);
  if (!NamesListsOf(directory, key, lists) || !platform::StampOfFile(lists + std::string(kJvmListSuffix)) ||
      !platform::StampOfFile(pending)) {
    NXO_TRAIL("cds", "no base archive to dump for %s", lists.c_str());
    return plan;
  }
  plan.dumps_base = true;
  plan.options = {"-Xshare:dump", "-XX:SharedClassListFile=" + lists + std::string(kJvmListSuffix),
                  "-XX:SharedArchiveFile=" + pending, kQuietSharingLog};
  return plan;
}

}  // namespace

bool ConfigurationDecidesSharing(const StringList& configured_options) {
  for (std::size_t i = 0; i < configured_options.Size(); ++i)
    for (std::string_view option : kOwnSharingOptions)
      if (StartsWith(configured_options.View(i), option)) return true;
  return false;
}

int ReleaseFeatureVersion(const std::string& release_text) {
  std::string_view text = release_text;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!StartsWith(line, kVersionLine)) continue;
    line.remove_prefix(kVersionLine.size());
    if (!line.empty() && line.front() == '"') line.remove_prefix(1);
    const std::string value(line);
    char* rest = nullptr;
    long feature = std::strtol(value.c_str(), &rest, 10);
    if (rest == value.c_str()) return 0;
    if (feature == 1 && *rest == '.') feature = std::strtol(rest + 1, nullptr, 10);  // 1.8.0 is 8
    return feature > 0 && feature < 1000 ? static_cast<int>(feature) : 0;
  }
  return 0;
}

SharingMechanism MechanismOfFeatureVersion(int feature_version) {
  if (feature_version >= 25) return SharingMechanism::kAheadOfTimeCache;
  if (feature_version >= 19) return SharingMechanism::kAutoCreatedArchive;
  if (feature_version >= 13) return SharingMechanism::kArchiveAtExit;
  return SharingMechanism::kNone;
}

std::string ReadRuntimeRelease(const std::string& library_path) {
  std::string directory = DirectoryPart(library_path);
  for (int level = 0; level < 4 && !directory.empty(); ++level) {
    directory += "../";
    std::string text;
    if (platform::ReadWholeFile(directory + "release", text)) return text;
  }
  return std::string();
}

std::string SharingDirectory(const std::string& cache_root, const std::string& executable_path) {
  std::uint64_t hash = kHashStart;
  Mix(hash, executable_path);
  return WithTrailingSeparator(cache_root) + "nxo/cds/" + Hex(hash) + "/";
}

std::string SharingKey(const std::string& executable_path, const std::string& library_path,
                       const std::string& class_path, const std::string& options_text) {
  std::uint64_t hash = kHashStart;
  auto mix_file = [&hash](const std::string& path, bool required) {
    const std::optional<platform::FileStamp> stamp = platform::StampOfFile(path);
    Mix(hash, path);
    if (!stamp) return !required;
    MixNumber(hash, stamp->size);
    MixNumber(hash, stamp->modified);
    return true;
  };
  if (!mix_file(executable_path, true) || !mix_file(library_path, true)) return std::string();
  const std::string library_directory = DirectoryPart(library_path);
  mix_file(library_directory + "classes.jsa", false);
  mix_file(library_directory + "classes_nocoops.jsa", false);
  for (std::size_t start = 0; start <= class_path.size();) {
    std::size_t end = class_path.find(platform::PathListSeparator(), start);
    if (end == std::string::npos) end = class_path.size();
    if (end > start) mix_file(class_path.substr(start, end - start), false);
    start = end + 1;
  }
  Mix(hash, options_text);
  return Hex(hash);
}

SharingPlan PlanClassDataSharing(SharingMechanism mechanism, const std::string& directory,
                                 const std::string& key, const StringList& configured_options,
                                 const std::string& training_lists, TrainingStep step) {
  SharingPlan plan;
  if (mechanism == SharingMechanism::kNone || key.empty() || directory.empty()) return plan;
  if (ConfigurationDecidesSharing(configured_options)) {
    NXO_TRAIL("cds", "an option line decides about sharing; nothing added");
    return plan;
  }
  if (!platform::CreateDirectories(directory)) {
    NXO_TRAIL("cds", "cannot create %s; starting without an archive", directory.c_str());
    return plan;
  }
  if (step == TrainingStep::kBaseDump) return BaseDumpPlan(directory, key, training_lists);
  const bool training = !training_lists.empty();
  std::string lists;
  if (training) {
    lists = TakeOverLists(directory, key, training_lists);
    if (lists.empty()) {
      NXO_TRAIL("cds", "training lists %s are not this start's", training_lists.c_str());
      return plan;
    }
  }
  // While another start records or trains for this key, this one leaves it
  // to them: a tool started many times in a row must not leave as many
  // training starts behind.
  const auto leave_to_others = [&](const TidyFindings& found) {
    if (found.training_failed) {
      NXO_TRAIL("cds", "an earlier training start wrote no archive; starting without one");
      return true;
    }
    if (found.others_busy) NXO_TRAIL("cds", "another start records or trains; starting without an archive");
    return found.others_busy;
  };
  TidyFindings found;
  if (mechanism == SharingMechanism::kAutoCreatedArchive) {
    // The JVM checks the archive against the runtime and this start's class
    // path itself, and writes a new one at exit when it cannot use it.
    const std::string name = key + std::string(kArchiveSuffix);
    TidySharingDirectory(directory, key, name, found);
    const bool present = platform::StampOfFile(directory + name).has_value();
    if (training && present) {
      RemoveLists(lists);
      return plan;
    }
    if (!present && !training) {
      if (!leave_to_others(found)) AddRecording(plan, directory, key);
      return plan;
    }
    if (!ArchiveCouldBeWritten(directory, key)) {
      if (training) RemoveLists(lists);
      return plan;
    }
    if (present) plan.archive = directory + name;
    plan.pending_key = key;
    plan.auto_archive = directory + name;
    plan.options = {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + directory + name};
    AddQuietOptions(plan);
    if (training) AddTrainingProperty(plan, lists);
    return plan;
  }
  const std::string published = TidySharingDirectory(directory, key, std::string(), found);
  const std::string& base = found.base_archive;
  if (!published.empty()) {
    if (training) {
      RemoveLists(lists);
      return plan;
    }
    NXO_TRAIL("cds", "archive %s", published.c_str());
    plan.archive = published;
    if (mechanism == SharingMechanism::kAheadOfTimeCache) {
      plan.options = {"-XX:AOTCache=" + published, kQuietCacheOption};
      return plan;
    }
    plan.base_archive = base;
    HandOver(plan, base.empty() ? published : base + platform::PathListSeparator() + published);
    return plan;
  }
  if (!training) {
    // The base archive alone while the training start writes the rest; a
    // start that finds nobody at it records for another.
    if (!base.empty()) {
      NXO_TRAIL("cds", "base archive %s", base.c_str());
      plan.archive = base;
      HandOver(plan, base);
    }
    if (!leave_to_others(found)) AddRecording(plan, directory, key);
    return plan;
  }
  plan.pending_archive = ClaimPendingName(directory, key);
  if (plan.pending_archive.empty()) {
    NXO_TRAIL("cds", "%s is not writable; starting without an archive", directory.c_str());
    RemoveLists(lists);
    return plan;
  }
  plan.pending_key = key;
  if (mechanism == SharingMechanism::kArchiveAtExit && base.empty() && step == TrainingStep::kBaseFirst) {
    NXO_TRAIL("cds", "training: a base archive first, in %s", plan.pending_archive.c_str());
    plan.base_to_dump = plan.pending_archive;
    plan.pending_archive.clear();
    plan.training_lists = lists;
    return plan;
  }
  NXO_TRAIL("cds", "training: the JVM writes %s at exit", plan.pending_archive.c_str());
  if (mechanism == SharingMechanism::kAheadOfTimeCache) {
    // The JVM records at exit and has a JVM of its own assemble the cache
    // before it ends.
    plan.options = {"-XX:AOTCacheOutput=" + plan.pending_archive, kQuietCacheOption};
  } else {
    if (!base.empty()) plan.options.push_back("-XX:SharedArchiveFile=" + base);
    plan.options.push_back("-XX:ArchiveClassesAtExit=" + plan.pending_archive);
    AddQuietOptions(plan);
  }
  AddTrainingProperty(plan, lists);
  return plan;
}

void DumpBaseArchive(SharingPlan& plan, const std::string& executable, const std::string& directory) {
  if (plan.base_to_dump.empty()) return;
  const std::string pending = plan.base_to_dump;
  plan.base_to_dump.clear();
  const std::optional<int> code =
      platform::RunCopyToEnd(executable, std::string(kBaseDumpVariable) + "=" + plan.training_lists, directory);
  if (!code || *code != 0 || !StartsLikeAnArchive(pending)) {
    NXO_TRAIL("cds", "the copy dumped no base archive (exit code %d)", code ? *code : -1);
    platform::RemoveFile(pending);
    return;
  }
  PublishArchive(pending, plan.pending_key + std::string(kBaseInfix));
}

void FinishSharingPlan(SharingPlan& plan, const std::string& executable, const std::string& directory) {
  if (!plan.training_lists.empty()) {
    // Java 19 to 24 write the archive under its final name themselves.
    const bool wrote = !plan.pending_archive.empty() ? PublishPendingArchive(plan)
                                                     : StartsLikeAnArchive(plan.auto_archive);
    RemoveLists(plan.training_lists);
    if (!wrote) {
      NXO_TRAIL("cds", "the training start wrote no archive");
      platform::CreateNewFile(DirectoryPart(plan.training_lists) + plan.pending_key + std::string(kFailedSuffix));
    }
    plan.training_lists.clear();
    plan.pending_archive.clear();
    return;
  }
  if (plan.recorded_lists.empty()) return;
  const std::string lists = plan.recorded_lists;
  plan.recorded_lists.clear();
  const std::optional<platform::FileStamp> recorded = platform::StampOfFile(lists + std::string(kJvmListSuffix));
  const std::optional<std::int32_t> trainer =
      recorded && recorded->size != 0
          ? platform::StartDetachedCopy(executable, std::string(kTrainingVariable) + "=" + lists, directory)
          : std::nullopt;
  if (!trainer) {
    NXO_TRAIL("cds", "no training start");
    RemoveLists(lists);
    return;
  }
  // Handed over while this process still runs: the lists never belong to
  // a process that has ended, which another start would take for orphans.
  MoveLists(lists, lists.substr(0, lists.rfind('.') + 1) + Decimal(*trainer));
}

void CheckArchiveTaken(const SharingPlan& plan, const std::string& vm_info) {
  if (plan.archive.empty() || vm_info.find("sharing") != std::string::npos) return;
  NXO_TRAIL("cds", "the JVM refused %s; removed", plan.archive.c_str());
  platform::RemoveFile(plan.archive);
  if (!plan.base_archive.empty()) platform::RemoveFile(plan.base_archive);
}

}  // namespace nxo::runtime
