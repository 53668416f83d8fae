#include "tools/nxo/pack_archive.h"

#include <fnmatch.h>

#include <algorithm>
#include <string_view>

#include "config/payload.h"
#include "support/bytes.h"
#include "support/md5.h"
#include "support/text.h"

namespace nxo::tool {

namespace {

Status OpenJar(const std::string& path, Jar& jar) {
  jar.path = path;
  jar.name = std::filesystem::path(path).filename().string();
  NXO_RETURN_IF_ERROR(jar.file.Open(path));
  Status read = zip::ReadDirectory(jar.file.data(), jar.file.size(), jar.directory);
  if (!read.ok()) return Status::Error(Quoted(path) + " is not a jar: " + read.message());
  return Status::Ok();
}

bool HasJarExtension(const std::filesystem::path& path) {
  const std::string extension = path.extension().string();
  return EqualsIgnoreCase(extension, ".jar");
}

Status ListLibDirectory(const std::string& directory, std::vector<std::string>& jars) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error))
    return Status::Error("cannot read --lib directory " + Quoted(directory) + ": not a directory");
  std::vector<std::string> found;
  std::filesystem::recursive_directory_iterator walk(directory, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    if (walk->is_regular_file(error) && HasJarExtension(walk->path())) found.push_back(walk->path().string());
  }
  if (error) return Status::Error("cannot read --lib directory " + Quoted(directory) + ": " + error.message());
  std::sort(found.begin(), found.end());
  jars.insert(jars.end(), found.begin(), found.end());
  return Status::Ok();
}

bool DirectoryHolds(const zip::Directory& directory, const std::string& name) {
  return std::any_of(directory.entries.begin(), directory.entries.end(),
                     [&](const zip::Entry& entry) { return entry.name == name; });
}

bool IsMetaInf(const std::string& name) { return name.rfind("META-INF/", 0) == 0 || name == "META-INF"; }

// Directory entries for every parent of |name| that has none yet.
Status AddParentDirectories(ZipWriter& zip, const std::string& name) {
  for (std::string::size_type slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
       slash = name.find('/', slash + 1)) {
    const std::string parent = name.substr(0, slash + 1);
    if (!zip.Contains(parent)) NXO_RETURN_IF_ERROR(zip.AddDirectory(parent));
  }
  return Status::Ok();
}

Status AddSupportClasses(ZipWriter& zip, const std::string& path, const MappedFile& file,
                         const zip::Directory& directory) {
  for (const zip::Entry& entry : directory.entries) {
    if (IsMetaInf(entry.name)) continue;
    NXO_RETURN_IF_ERROR(AddParentDirectories(zip, entry.name));
    if (entry.IsDirectory()) {
      if (!zip.Contains(entry.name)) NXO_RETURN_IF_ERROR(zip.AddDirectory(entry.name));
      continue;
    }
    if (entry.flags & 1) return Status::Error("support jar " + Quoted(path) + ": entry " + Quoted(entry.name) + " is encrypted");
    if (entry.method == zip::kDeflated) {
      NXO_RETURN_IF_ERROR(zip.AddCopied(entry.name, entry, file.data()));
    } else if (entry.method == zip::kStored) {
      std::string_view bytes(reinterpret_cast<const char*>(file.data() + entry.data_position), entry.size);
      NXO_RETURN_IF_ERROR(zip.AddDeflated(entry.name, bytes));
    } else {
      return Status::Error("support jar " + Quoted(path) + ": entry " + Quoted(entry.name) +
                           " uses compression method " + std::to_string(entry.method));
    }
  }
  return Status::Ok();
}

Status AddClassesTree(ZipWriter& zip, const ClassesTree& tree) {
  const std::string prefix = "BOOT-INF/classes/";
  NXO_RETURN_IF_ERROR(AddParentDirectories(zip, prefix + "x"));
  for (const std::string& directory : tree.directories) NXO_RETURN_IF_ERROR(zip.AddDirectory(prefix + directory));
  for (const std::string& file : tree.files) {
    std::string bytes;
    NXO_RETURN_IF_ERROR(ReadWholeFile((tree.root / file).string(), bytes));
    NXO_RETURN_IF_ERROR(zip.AddDeflated(prefix + file, bytes));
  }
  return Status::Ok();
}

}  // namespace

Status OpenJars(const PackOptions& options, std::vector<Jar>& jars) {
  std::vector<std::string> paths = options.jars;
  for (const std::string& directory : options.lib_directories) NXO_RETURN_IF_ERROR(ListLibDirectory(directory, paths));
  jars.resize(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    NXO_RETURN_IF_ERROR(OpenJar(paths[i], jars[i]));
    for (std::size_t j = 0; j < i; ++j)
      if (jars[j].name == jars[i].name)
        return Status::Error("two jars named " + Quoted(jars[i].name) + ": " + Quoted(jars[j].path) + " and " +
                             Quoted(jars[i].path));
  }
  return Status::Ok();
}

Status ListClasses(const std::string& directory, ClassesTree& tree) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error))
    return Status::Error("cannot read --classes directory " + Quoted(directory) + ": not a directory");
  tree.root = directory;
  std::filesystem::recursive_directory_iterator walk(directory, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    const std::string relative = std::filesystem::relative(walk->path(), tree.root, error).generic_string();
    if (error) break;
    // Entry names are stored as UTF-8 and flagged so; other bytes would make
    // the JVM refuse the whole archive.
    if (!IsWellFormedUtf8(relative))
      return Status::Error("cannot add " + Quoted(walk->path().string()) +
                           " from --classes: its name is not valid UTF-8");
    if (walk->is_directory(error)) {
      tree.directories.push_back(relative + "/");
    } else if (walk->is_regular_file(error)) {
      tree.files.push_back(relative);
      tree.total_size += walk->file_size(error);
    }
  }
  if (error) return Status::Error("cannot read --classes directory " + Quoted(directory) + ": " + error.message());
  std::sort(tree.directories.begin(), tree.directories.end());
  std::sort(tree.files.begin(), tree.files.end());
  return Status::Ok();
}

Status CheckMainClass(const std::string& main_class, const zip::Directory& support, const std::vector<Jar>& jars,
                      const ClassesTree* classes) {
  std::string file = main_class;
  std::replace(file.begin(), file.end(), '.', '/');
  file += ".class";
  if (DirectoryHolds(support, file)) return Status::Ok();
  for (const Jar& jar : jars)
    if (DirectoryHolds(jar.directory, file)) return Status::Ok();
  if (classes && std::binary_search(classes->files.begin(), classes->files.end(), file)) return Status::Ok();
  return Status::Error("main class " + Quoted(main_class) + " (" + file +
                       ") is in none of the inputs (--no-check skips this test)");
}

namespace {

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& pattern) { return fnmatch(pattern.c_str(), name.c_str(), 0) == 0; });
}

// The mark of a jar that the loader unpacks: the extra field that carries
// the MD5 of its bytes, which keys its place in the user's cache. Empty for a
// jar no pattern matches.
std::string UnpackMark(const Jar& jar, const std::vector<std::string>& patterns) {
  if (!MatchesAny(patterns, jar.name)) return std::string();
  Md5 md5;
  md5.Update(jar.file.data(), jar.file.size());
  unsigned char digest[Md5::kDigestSize];
  md5.Final(digest);
  std::string mark;
  AppendLe16(mark, zip::kUnpackExtraTag);
  AppendLe16(mark, static_cast<std::uint16_t>(Md5::kDigestSize));
  mark.append(reinterpret_cast<const char*>(digest), sizeof digest);
  return mark;
}

}  // namespace

Status CheckUnpackPatterns(const std::vector<std::string>& patterns, const std::vector<Jar>& jars) {
  for (const std::string& pattern : patterns) {
    const bool matched = std::any_of(jars.begin(), jars.end(), [&](const Jar& jar) {
      return MatchesAny({pattern}, jar.name);
    });
    if (!matched) return Status::Error("--unpack " + Quoted(pattern) + " matches none of the jars");
  }
  return Status::Ok();
}

Status WriteArchive(ZipWriter& zip, const std::string& support_path, const MappedFile& support,
                    const zip::Directory& support_directory, const std::vector<Jar>& jars, const ClassesTree* classes,
                    const std::vector<std::string>& unpack_patterns, const SplashImage* splash) {
  if (splash) {
    NXO_RETURN_IF_ERROR(zip.AddStored(config::kSplashImageEntry, splash->file));
    if (!splash->bitmap_file.empty())
      NXO_RETURN_IF_ERROR(zip.AddStored(config::kSplashBitmapEntry, splash->bitmap_file));
  }
  NXO_RETURN_IF_ERROR(AddSupportClasses(zip, support_path, support, support_directory));
  if (!jars.empty()) NXO_RETURN_IF_ERROR(AddParentDirectories(zip, "BOOT-INF/lib/x"));
  for (const Jar& jar : jars)
    NXO_RETURN_IF_ERROR(zip.AddStoredFile("BOOT-INF/lib/" + jar.name, jar.path, UnpackMark(jar, unpack_patterns)));
  if (classes) NXO_RETURN_IF_ERROR(AddClassesTree(zip, *classes));
  return zip.Finish();
}

}  // namespace nxo::tool
