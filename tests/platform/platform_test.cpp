#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "tests/test_util.h"

namespace nxo::platform {
namespace {

TEST(MappedFile, MapsWholeFilesAndRefusesMissingOnes) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.bin"), std::string("abc\0def", 7));
  test::WriteFile(dir.File("empty"), "");
  MappedFile file;
  ASSERT_TRUE(file.Open(dir.File("a.bin")));
  ASSERT_EQ(file.Size(), 7u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Data()), 7), std::string("abc\0def", 7));
  MappedFile moved = std::move(file);
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(moved.Size(), 7u);
  ASSERT_TRUE(file.Open(dir.File("empty")));
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_FALSE(file.Open(dir.File("missing")));
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(dir.File("a.bin"), contents));
  EXPECT_EQ(contents.size(), 7u);
  EXPECT_FALSE(ReadWholeFile(dir.File("missing"), contents));
}

TEST(Access, TellsExistingAndReadablePaths) {
  test::TempDir dir;
  test::WriteFile(dir.File("f"), "x");
  EXPECT_TRUE(Access(dir.File("f"), AccessMode::kExists));
  EXPECT_TRUE(Access(dir.File("f"), AccessMode::kRead));
  EXPECT_TRUE(Access(dir.Path().string(), AccessMode::kRead));
  EXPECT_FALSE(Access(dir.File("g"), AccessMode::kExists));
}

TEST(ListDirectory, MatchesPatternsInTheLastComponent) {
  test::TempDir dir;
  for (const char* name : {"a.txt", "b.TXT", "c.jar", "ab.txt"}) test::WriteFile(dir.File(name), "");
  std::filesystem::create_directory(dir.Path() / "sub.txt");
  auto list = [&](const std::string& pattern) {
    std::vector<std::string> names;
    ListDirectory(dir.Str() + pattern, [&](const DirectoryEntry& e) {
      if (e.name != "." && e.name != "..") names.push_back(e.name + (e.is_directory ? "/" : ""));
      return true;
    });
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(list("*"), (std::vector<std::string>{"a.txt", "ab.txt", "b.TXT", "c.jar", "sub.txt/"}));
  EXPECT_EQ(list("?.jar"), (std::vector<std::string>{"c.jar"}));
  std::vector<std::string> txt = list("*.txt");
  // The platform decides case: Windows matches b.TXT, a Unix shell does not.
  if (PathListSeparator() == ';') {
    EXPECT_EQ(txt, (std::vector<std::string>{"a.txt", "ab.txt", "b.TXT", "sub.txt/"}));
  } else {
    EXPECT_EQ(txt, (std::vector<std::string>{"a.txt", "ab.txt", "sub.txt/"}));
  }
  EXPECT_TRUE(list("*.none").empty());
  EXPECT_FALSE(ListDirectory(dir.Str() + "missing/*", [](const DirectoryEntry&) { return true; }));
}

TEST(Environment, PutsAndRemovesVariables) {
  ASSERT_TRUE(PutEnvironment("NXO_PLATFORM_TEST=a=b"));
  EXPECT_EQ(GetEnvironment("NXO_PLATFORM_TEST"), std::optional<std::string>("a=b"));
  ASSERT_TRUE(PutEnvironment("NXO_PLATFORM_TEST="));
  EXPECT_EQ(GetEnvironment("NXO_PLATFORM_TEST"), std::nullopt);
}

TEST(Paths, FullPathNamesAndTheCurrentDirectory) {
  test::TempDir dir;
  std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeCurrentDirectory(dir.Path().string()));
  std::optional<std::string> full = FullPath("x/../y");
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(std::filesystem::path(*full), dir.Path() / "y");
  std::string long_path;
  for (int i = 0; i < 30; ++i) long_path += "abcdefghi/";
  // Longer than the Windows path limit: made full whole (the launcher, not
  // the seam, decides what is too long), or refused (Wine); never cut short.
  std::optional<std::string> long_full = FullPath(long_path);
  EXPECT_TRUE(!long_full || long_full->size() > long_path.size()) << long_full.value_or("");
  ASSERT_TRUE(ChangeCurrentDirectory(before));
  EXPECT_FALSE(ModuleFileName().empty());
  EXPECT_TRUE(Access(ModuleFileName(), AccessMode::kRead));
}

// Two threads each add to one plain counter many times under the lock: a
// lock that let them overlap would lose increments.
TEST(Mutex, KeepsThreadsOutOfEachOthersSection) {
  struct Shared {
    Mutex lock;
    long counter = 0;
  } shared;
  constexpr long kRounds = 200000;
  const ThreadProcedure add = [](void* argument) -> unsigned {
    auto* s = static_cast<Shared*>(argument);
    for (long i = 0; i < kRounds; ++i) {
      std::lock_guard<Mutex> hold(s->lock);
      const long seen = s->counter;
      if (i % 4096 == 0) YieldToOtherThreads();  // invites the other thread in
      s->counter = seen + 1;
    }
    return 0;
  };
  SignalRef finished = CreateSignal();
  ASSERT_NE(finished, nullptr);
  struct Helper {
    ThreadProcedure add;
    Shared* shared;
    SignalRef finished;
  } helper{add, &shared, finished};
  ASSERT_TRUE(StartDetachedThread(
      [](void* argument) -> unsigned {
        auto* h = static_cast<Helper*>(argument);
        h->add(h->shared);
        RaiseSignal(h->finished);
        return 0;
      },
      &helper));
  add(&shared);
  ASSERT_TRUE(WaitForSignal(finished, 60000));
  DestroySignal(finished);
  EXPECT_EQ(shared.counter, 2 * kRounds);
}

}  // namespace
}  // namespace nxo::platform
