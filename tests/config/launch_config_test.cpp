#include "config/launch_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "config/payload.h"
#include "support/trail.h"
#include "tests/test_util.h"

namespace nxo::config {
namespace {

using test::TempDir;
using test::WriteFile;

constexpr std::uint32_t kArchiveSize = 64;

// Writes an executable image carrying |config_lines| as its embedded block
// (UTF-8 with the byte-order mark, as the packager writes it).
std::string WriteImage(const TempDir& dir, const std::string& name, const std::string& config_lines) {
  std::string block = "\xEF\xBB\xBF" + config_lines + '\0';
  std::string bytes(256, 'I');
  bytes += block + test::Le32(static_cast<std::uint32_t>(block.size())) + std::string(16, 'D');
  std::string archive(kArchiveSize - 22, 'Z');
  archive += test::EmptyArchiveEnd(kArchiveSize);
  bytes += archive;
  std::string path = dir.File(name);
  WriteFile(path, bytes);
  return path;
}

LaunchConfig Load(const std::string& executable, const std::string& cwd,
                  std::uint32_t archive = kArchiveSize) {
  ConfigSource source;
  source.executable_path = executable;
  source.archive_length = archive;
  source.current_directory = cwd;
  return LaunchConfig(source);
}

std::string Title(const LaunchConfig& c) {
  return c.FindValue("splashtitle", LookupScope::kWholeText, ValueForm::kUtf8);
}

// A first candidate that is no regular file of reasonable size is passed
// over, without waiting on it or reading it without end; the next candidate
// is read instead.
TEST(LaunchConfig, SpecialFilesBesideTheExecutableArePassedOver) {
  struct Case {
    const char* what;
    std::function<bool(const std::string& path)> make;  // false: not possible here
  };
  const std::vector<Case> cases = {
      {"a directory", [](const std::string& path) { return std::filesystem::create_directory(path); }},
      {"a file one byte past the cap",
       [](const std::string& path) {
         WriteFile(path, "splashtitle Huge\n" + std::string(kMaxExternalConfigSize - 17 + 1, ' '));
         return true;
       }},
#ifndef _WIN32
      {"a FIFO", [](const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }},
      {"a link to a device",
       [](const std::string& path) {
         std::error_code error;
         std::filesystem::create_symlink("/dev/null", path, error);
         return !error;
       }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
    WriteFile(dir.File("app.cfg"), "splashtitle Next");
    ASSERT_TRUE(c.make(dir.File("app.exe.cfg")));
    LaunchConfig config = Load(exe, dir.Str());
    EXPECT_EQ(Title(config), "Next");
    EXPECT_EQ(config.Text(), "splashtitle Next\r\nsplashtitle Embedded\r\n");
  }
}

TEST(LaunchConfig, TheTrailSaysWhyAFileBesideTheExecutableWasIgnored) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
  WriteFile(dir.File("app.exe.cfg"), std::string(kMaxExternalConfigSize + 1, ' '));
  std::filesystem::create_directory(dir.File("app.exe.config"));
  const std::string trail_file = dir.File("trail.txt");
  ASSERT_TRUE(trail::OpenDestination(trail_file.c_str()));
  Load(exe, dir.Str());
  trail::Close();
  const std::string trail = test::ReadFile(trail_file);
  EXPECT_NE(trail.find("app.exe.cfg ignored: larger than 1048576 bytes"), std::string::npos) << trail;
  EXPECT_NE(trail.find("app.exe.config ignored: not a regular file"), std::string::npos) << trail;
}

TEST(LaunchConfig, AFileAtTheCapIsStillRead) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
  std::string text = "splashtitle AtCap\n";
  WriteFile(dir.File("app.exe.cfg"), text + std::string(kMaxExternalConfigSize - text.size(), ' '));
  EXPECT_EQ(Title(Load(exe, dir.Str())), "AtCap");
}

// An executable whose record promises an archive that is not where the
// record says (cut short, or bytes appended after it) has been changed.
TEST(LaunchConfig, APromisedPayloadThatCannotBeFoundIsReported) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
  EXPECT_FALSE(Load(exe, dir.Str()).PayloadMissing());
  // Nothing promised: a bare stub has nothing to miss.
  EXPECT_FALSE(Load(exe, dir.Str(), 0).PayloadMissing());

  std::string bytes = test::ReadFile(exe);
  struct Case {
    const char* what;
    std::string image;
    std::uint32_t archive;
  };
  const std::vector<Case> cases = {
      {"cut short", bytes.substr(0, 200), kArchiveSize},
      {"archive longer than the file", bytes, 1u << 30},
      {"no end record and too short", bytes.substr(0, 10), kArchiveSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(exe, c.image);
    LaunchConfig config = Load(exe, dir.Str(), c.archive);
    EXPECT_TRUE(config.PayloadMissing());
    EXPECT_EQ(config.Text(), "");
  }
  EXPECT_TRUE(Load(dir.File("no-such.exe"), dir.Str()).PayloadMissing());
}

TEST(LaunchConfig, ReadsTheEmbeddedBlock) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "mainclass app.Main\r\nsplashtitle Hello\r\n");
  LaunchConfig config = Load(exe, dir.Str());
  EXPECT_EQ(config.Text(), "mainclass app.Main\r\nsplashtitle Hello\r\n");
  EXPECT_EQ(config.EmbeddedStart(), 0);
  EXPECT_EQ(config.FindValue("mainclass", LookupScope::kEmbeddedOnly, ValueForm::kAnsi), "app.Main");
  EXPECT_EQ(config.ExecutablePath(), exe);
  EXPECT_EQ(config.ApplicationDirectory(), dir.Str());
  EXPECT_EQ(config.PayloadPosition(), 256 + 3 + 39 + 1 + 4);  // image, mark, lines, 0x00, L
}

TEST(LaunchConfig, TheFirstExternalCandidateWins) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
  WriteFile(dir.File("app.exe.config"), "splashtitle FromExeConfig");
  WriteFile(dir.File("app.cfg"), "splashtitle FromCfg");
  LaunchConfig config = Load(exe, dir.Str());
  EXPECT_EQ(Title(config), "FromExeConfig");
  EXPECT_EQ(config.Text(), "splashtitle FromExeConfig\r\nsplashtitle Embedded\r\n");
  EXPECT_EQ(config.EmbeddedStart(), 27);

  std::filesystem::remove(dir.File("app.exe.config"));
  EXPECT_EQ(Title(Load(exe, dir.Str())), "FromCfg");
  WriteFile(dir.File("app.exe.cfg"), "splashtitle FromExeCfg");
  EXPECT_EQ(Title(Load(exe, dir.Str())), "FromExeCfg");
}

TEST(LaunchConfig, ExternalLinesOverrideOnlyWholeTextKeys) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "mainclass app.Main\r\nsplashtitle Two\r\n");
  WriteFile(dir.File("app.cfg"), "mainclass Other\r\nsplashtitle One\r\noption -Dext\r\n");
  std::string embedded = "mainclass app.Main\r\nsplashtitle Two\r\noption -Demb\r\n";
  exe = WriteImage(dir, "app.exe", embedded);
  LaunchConfig config = Load(exe, dir.Str());
  EXPECT_EQ(config.FindValue("mainclass", LookupScope::kEmbeddedOnly, ValueForm::kAnsi), "app.Main");
  EXPECT_EQ(Title(config), "One");
  StringList options;
  config.CollectValues("option", options, LookupScope::kWholeText, ValueForm::kAnsi);
  ASSERT_EQ(options.Size(), 2u);
  EXPECT_EQ(options.View(0), "-Dext");
  EXPECT_EQ(options.View(1), "-Demb");
}

TEST(LaunchConfig, EveryExternalEncodingGivesTheSameText) {
  const std::string expected = "splashtitle Caf\xC3\xA9 ok\r\nwildcard true";
  const std::u16string wide = u"splashtitle Caf\u00e9 ok\r\nwildcard true";
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t unit : wide) {
    le += static_cast<char>(unit & 0xFF);
    le += static_cast<char>(unit >> 8);
    be += static_cast<char>(unit >> 8);
    be += static_cast<char>(unit & 0xFF);
  }
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"UTF-8 with mark", "\xEF\xBB\xBF" + expected},
      {"UTF-16 LE with mark", le},
      {"UTF-16 BE with mark", be},
      {"UTF-16 LE with a zero unit and garbage after it", le + std::string("\0\0zz", 4)},
  };
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "");
  for (const Case& c : cases) {
    WriteFile(dir.File("app.cfg"), c.bytes);
    LaunchConfig config = Load(exe, dir.Str());
    EXPECT_EQ(config.Text().substr(0, config.EmbeddedStart()), expected + "\r\n") << c.what;
  }
}

TEST(LaunchConfig, ACandidateThatCannotBeReadIsSkipped) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle Embedded\r\n");
  // A directory under the first candidate's name exists but is no file.
  std::filesystem::create_directory(dir.Path() / "app.exe.cfg");
  WriteFile(dir.File("app.exe.config"), "splashtitle FromExeConfig");
  EXPECT_EQ(Title(Load(exe, dir.Str())), "FromExeConfig");
}

TEST(LaunchConfig, AnEmptyExternalFileAddsNothing) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle E\r\n");
  WriteFile(dir.File("app.cfg"), "");
  LaunchConfig config = Load(exe, dir.Str());
  EXPECT_EQ(config.Text(), "splashtitle E\r\n");
  EXPECT_EQ(config.EmbeddedStart(), 0);
}

TEST(LaunchConfig, OnlyTheEmbeddedBlockCanDisableTheExternalFile) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "disableexternal TRUE\r\nsplashtitle E\r\n");
  WriteFile(dir.File("app.cfg"), "splashtitle X\r\n");
  LaunchConfig dropped = Load(exe, dir.Str());
  EXPECT_EQ(Title(dropped), "E");
  EXPECT_EQ(dropped.EmbeddedStart(), 0);
  EXPECT_EQ(dropped.Text(), "disableexternal TRUE\r\nsplashtitle E\r\n");

  exe = WriteImage(dir, "app.exe", "splashtitle E\r\n");
  WriteFile(dir.File("app.cfg"), "disableexternal true\r\nsplashtitle X\r\n");
  EXPECT_EQ(Title(Load(exe, dir.Str())), "X");
}

TEST(LaunchConfig, ANulInAMarkedUtf8FileCannotHideTheEmbeddedLines) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "mainclass app.Main\r\noption -Demb\r\n");
  WriteFile(dir.File("app.cfg"), std::string("\xEF\xBB\xBFoption -Dext\r\n\0option -Dhidden\r\n", 36));
  LaunchConfig config = Load(exe, dir.Str());
  StringList options;
  config.CollectValues("option", options, LookupScope::kWholeText, ValueForm::kAnsi);
  ASSERT_EQ(options.Size(), 2u);
  EXPECT_EQ(options.View(0), "-Dext");
  EXPECT_EQ(options.View(1), "-Demb");
}

TEST(LaunchConfig, ADamagedExecutableHasNoEmbeddedConfiguration) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "splashtitle E\r\n");
  WriteFile(dir.File("app.cfg"), "splashtitle X\r\n");
  // A recorded archive length larger than the file, and one that lands the
  // length field on arbitrary bytes.
  for (std::uint32_t archive : {100000u, 200u, 0u}) {
    LaunchConfig config = Load(exe, dir.Str(), archive);
    EXPECT_EQ(config.FindValue("splashtitle", LookupScope::kEmbeddedOnly, ValueForm::kAnsi), "")
        << archive;
    EXPECT_EQ(Title(config), "X") << archive;
  }
  // A missing executable file reads as no configuration at all.
  LaunchConfig missing = Load(dir.File("gone.exe"), dir.Str());
  EXPECT_EQ(missing.Text(), "");
}

TEST(LaunchConfig, CurrentDirectoryEndsWithASeparator) {
  TempDir dir;
  std::string exe = WriteImage(dir, "app.exe", "");
  EXPECT_EQ(Load(exe, "C:\\").CurrentDirectory(), "C:\\");
  EXPECT_EQ(Load(exe, "C:\\work").CurrentDirectory(), "C:\\work/");
  EXPECT_EQ(Load(exe, "/srv/").CurrentDirectory(), "/srv/");
}

TEST(ResolveConfigPath, PrefersTheApplicationDirectoryThenTheCurrentOne) {
  TempDir app, cwd;
  std::string exe = WriteImage(app, "app.exe", "");
  LaunchConfig config = Load(exe, cwd.Str());
  EXPECT_EQ(config.ResolveConfigPath(""), "");
  EXPECT_EQ(config.ResolveConfigPath("/abs/jre"), "/abs/jre");
  EXPECT_EQ(config.ResolveConfigPath("\\abs\\jre"), "\\abs\\jre");
  EXPECT_EQ(config.ResolveConfigPath("D:x"), "D:x");
  // Neither exists: the application-directory form.
  EXPECT_EQ(config.ResolveConfigPath("jre"), app.Str() + "jre");
  std::filesystem::create_directory(cwd.Path() / "jre");
  EXPECT_EQ(config.ResolveConfigPath("jre"), cwd.Str() + "jre");
  std::filesystem::create_directory(app.Path() / "jre");
  EXPECT_EQ(config.ResolveConfigPath("jre"), app.Str() + "jre");
}

}  // namespace
}  // namespace nxo::config
