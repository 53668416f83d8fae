// The archive "nxo pack" writes: its inputs (the application's jars and a
// classes directory), the main-class check over them, and the jar-form
// archive with the support classes at its root.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/nxo/files.h"
#include "tools/nxo/pack_options.h"
#include "tools/nxo/splash_image.h"
#include "tools/nxo/status.h"
#include "tools/nxo/zip_format.h"
#include "tools/nxo/zip_writer.h"

namespace nxo::tool {

struct Jar {
  std::string path;
  std::string name;  // the entry name below BOOT-INF/lib/
  MappedFile file;
  zip::Directory directory;
};

// The jars named on the command line, then those below each --lib directory
// (sorted), each opened and its directory read; two jars of one name fail.
Status OpenJars(const PackOptions& options, std::vector<Jar>& jars);

// Files and directories below --classes, relative and sorted.
struct ClassesTree {
  std::filesystem::path root;
  std::vector<std::string> directories;  // "a/", "a/b/"
  std::vector<std::string> files;        // "a/b/C.class"
  std::uint64_t total_size = 0;
};

Status ListClasses(const std::string& directory, ClassesTree& tree);

// Whether |main_class| is in the support jar, a jar or the classes tree.
Status CheckMainClass(const std::string& main_class, const zip::Directory& support, const std::vector<Jar>& jars,
                      const ClassesTree* classes);

// The whole archive: the splash picture's entries when |splash| is given
// (first and stored, so the launcher reads them in place; see
// config/payload.h), the support classes (without META-INF), the jars under
// BOOT-INF/lib/, the classes tree under BOOT-INF/classes/.
// Jars whose file names match one of |unpack_patterns| (shell globs) are
// marked for the loader to unpack into the user's cache.
Status WriteArchive(ZipWriter& zip, const std::string& support_path, const MappedFile& support,
                    const zip::Directory& support_directory, const std::vector<Jar>& jars, const ClassesTree* classes,
                    const std::vector<std::string>& unpack_patterns, const SplashImage* splash);

// Fails for an --unpack pattern that matches none of the jars: a typo would
// otherwise go unnoticed until a library fails at run time.
Status CheckUnpackPatterns(const std::vector<std::string>& patterns, const std::vector<Jar>& jars);

}  // namespace nxo::tool
