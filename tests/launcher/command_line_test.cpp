#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "tests/test_util.h"

namespace nxo::launcher {
namespace {

using platform::FindWildcardMatches;

struct SplitCase {
  std::string text;
  std::vector<std::string> arguments;
  std::vector<std::int32_t> marks;
};

TEST(SplitArguments, SplitsLikeTheCRuntime) {
  const SplitCase cases[] = {
      {"", {}, {}},
      {" \t ", {}, {}},
      {"a b\tc", {"a", "b", "c"}, {0, 0, 0}},
      {"  lead   trail  ", {"lead", "trail"}, {0, 0}},
      {R"(a\\"b c")", {R"(a\b c)"}, {0}},          // 2 backslashes + quote: one backslash, toggle
      {R"(a\"b)", {R"(a"b)"}, {0}},                 // 1 backslash + quote: literal quote
      {R"(a\b)", {R"(a\b)"}, {0}},                  // not before a quote: kept
      {R"(a\\\"b)", {R"(a\"b)"}, {0}},              // 3: one backslash and a literal quote
      {R"(a\\\\"b c")", {R"(a\\b c)"}, {0}},        // 4: two backslashes, toggle
      {R"(end\\ x)", {R"(end\\)", "x"}, {0, 0}},
      {R"("")", {""}, {0}},
      {R"("" x "")", {"", "x", ""}, {0, 0, 0}},
      {R"("a""b")", {"ab"}, {0}},                   // two quotes inside quotes: nothing
      {"\"a b\tc\"d", {"a b\tcd"}, {0}},
      {R"("unterminated x)", {"unterminated x"}, {0}},
      {R"(*.txt "*.txt" a"*"b* pre? x)", {"*.txt", "*.txt", "a*b*", "pre?", "x"}, {1, -1, -1, 1, 0}},
      {R"(a*"?")", {"a*?"}, {-1}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    std::string text = c.text;
    std::vector<char*> arguments;
    std::vector<std::int32_t> marks;
    EXPECT_EQ(SplitArguments(arguments, text.data(), &marks), static_cast<int>(c.arguments.size()));
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.end()), c.arguments);
    EXPECT_EQ(marks, c.marks);
    // Every argument lives inside the rewritten text.
    for (char* argument : arguments) {
      EXPECT_GE(argument, text.data());
      EXPECT_LT(argument, text.data() + text.size() + 1);
    }
  }
}

TEST(SplitArguments, AppendsToWhatTheListHoldsAndPadsTheMarks) {
  std::string first = "one";
  std::string second = "two *three";
  std::vector<char*> arguments;
  EXPECT_EQ(SplitArguments(arguments, first.data(), nullptr), 1);
  std::vector<std::int32_t> marks;
  EXPECT_EQ(SplitArguments(arguments, second.data(), &marks), 3);
  EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.end()),
            (std::vector<std::string>{"one", "two", "*three"}));
  EXPECT_EQ(marks, (std::vector<std::int32_t>{0, 0, 1}));
}

std::vector<std::string> Matches(const std::string& pattern) {
  StringList list;
  FindWildcardMatches(pattern, list);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < list.Size(); ++i) out.emplace_back(list.View(i));
  return out;
}

std::vector<std::string> Sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

class Wildcards : public ::testing::Test {
 protected:
  Wildcards() {
    for (const char* file : {"src/x/main.c", "src/y/main.c", "src/z/other.c", "src/file.c",
                             "logs/a.log", "logs/b.log", "docs/a.txt", "docs/b.txt", "docs/c.md"})
      Touch(file);
    std::filesystem::create_directories(root_ + "logs/sub");
  }
  void Touch(const std::string& relative) {
    std::filesystem::create_directories(std::filesystem::path(root_ + relative).parent_path());
    nxo::test::WriteFile(root_ + relative, "x");
  }
  nxo::test::TempDir dir_;
  std::string root_ = dir_.Str();
};

TEST_F(Wildcards, AWildcardDirectoryComponentIsExpandedInTurn) {
  EXPECT_EQ(Sorted(Matches(root_ + "src/*/main.c")),
            Sorted({root_ + "src/x/main.c", root_ + "src/y/main.c"}));
  EXPECT_EQ(Sorted(Matches(root_ + "src/*/*.c")),
            Sorted({root_ + "src/x/main.c", root_ + "src/y/main.c", root_ + "src/z/other.c"}));
  EXPECT_EQ(Matches(root_ + "src/?/none.c"), std::vector<std::string>{});
}

TEST_F(Wildcards, ALastWildcardComponentListsFilesAndDirectories) {
  EXPECT_EQ(Sorted(Matches(root_ + "logs/*")),
            Sorted({root_ + "logs/a.log", root_ + "logs/b.log", root_ + "logs/sub"}));
  EXPECT_EQ(Sorted(Matches(root_ + "docs/?.txt")), Sorted({root_ + "docs/a.txt", root_ + "docs/b.txt"}));
  EXPECT_EQ(Matches(root_ + "docs/*.none"), std::vector<std::string>{});
  EXPECT_EQ(Matches(root_ + "nowhere/*"), std::vector<std::string>{});
}

TEST_F(Wildcards, APatternWithoutWildcardsNamesAnExistingPathOnly) {
  EXPECT_EQ(Matches(root_ + "docs/c.md"), std::vector<std::string>{root_ + "docs/c.md"});
  EXPECT_EQ(Matches(root_ + "docs"), std::vector<std::string>{root_ + "docs"});
  EXPECT_EQ(Matches(root_ + "docs/d.md"), std::vector<std::string>{});
}

TEST_F(Wildcards, AWildcardInTheFirstPartOfARelativePathIsExpanded) {
  const std::string before = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeCurrentDirectory(root_));
  const std::vector<std::string> nested = Sorted(Matches("sr?/*/main.c"));
  const std::vector<std::string> first_only = Matches("lo*/a.log");
  const std::vector<std::string> last_only = Sorted(Matches("docs/?.txt"));
  ASSERT_TRUE(platform::ChangeCurrentDirectory(before));
  EXPECT_EQ(nested, Sorted({"src/x/main.c", "src/y/main.c"}));
  EXPECT_EQ(first_only, std::vector<std::string>{"logs/a.log"});
  EXPECT_EQ(last_only, Sorted({"docs/a.txt", "docs/b.txt"}));
}

// One rule on every target: brackets are ordinary characters, and "*" and
// "?" take a leading dot like any other character.
TEST_F(Wildcards, BracketsAreLiteralAndDotFilesFollowOneRule) {
  Touch("odd/[ab].txt");
  Touch("odd/a.txt");
  Touch("odd/.hidden.txt");
  Touch("odd/shown.txt");
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"odd/[ab]*", {"odd/[ab].txt"}},
      {"odd/[?b].txt", {"odd/[ab].txt"}},
      {"odd/*.txt", {"odd/.hidden.txt", "odd/[ab].txt", "odd/a.txt", "odd/shown.txt"}},
      {"odd/?hidden.txt", {"odd/.hidden.txt"}},
      {"odd/.*", {"odd/.hidden.txt"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected;
    for (const std::string& name : c.names) expected.push_back(root_ + name);
    EXPECT_EQ(Sorted(Matches(root_ + c.pattern)), Sorted(expected)) << c.pattern;
  }
}

TEST_F(Wildcards, BackslashesSeparateComponentsWhereThePlatformListsWithThem) {
  // Only where the file system takes "\" as a separator.
  if (platform::PathListSeparator() != ';') GTEST_SKIP() << "\"\\\" is a file-name character here";
  EXPECT_EQ(Sorted(Matches(root_ + "src\\*\\main.c")),
            Sorted({root_ + "src\\x\\main.c", root_ + "src\\y\\main.c"}));
  EXPECT_EQ(Sorted(Matches(root_ + "logs\\*")),
            Sorted({root_ + "logs\\a.log", root_ + "logs\\b.log", root_ + "logs\\sub"}));
}

std::vector<std::string> Expand(WildcardMode mode, const std::string& line) {
  ArgumentVector vector;
  ExpandCommandLineText(mode, line, vector);
  std::vector<std::string> out;
  for (int i = 0; i < vector.Count(); ++i) out.emplace_back(vector.Values()[i]);
  EXPECT_EQ(vector.Values()[vector.Count()], nullptr);
  return out;
}

TEST_F(Wildcards, PlainModeExpandsOnlyUnquotedWildcards) {
  std::string docs = root_ + "docs/";
  std::vector<std::string> plain =
      Expand(WildcardMode::kPlain, "prog " + docs + "*.txt \"" + docs + "*.txt\" " + docs +
                                       "*.none " + docs + "\"*\".md last");
  ASSERT_EQ(plain.size(), 7u);
  EXPECT_EQ(plain[0], "prog");
  EXPECT_EQ(Sorted({plain[1], plain[2]}), Sorted({docs + "a.txt", docs + "b.txt"}));
  EXPECT_EQ(plain[3], docs + "*.txt");   // quoted: literal, quotes removed
  EXPECT_EQ(plain[4], docs + "*.none");  // no match: literal
  EXPECT_EQ(plain[5], docs + "*.md");    // partly quoted wildcard: literal
  EXPECT_EQ(plain[6], "last");
}

TEST_F(Wildcards, AllModeExpandsQuotedWildcardsToo) {
  std::string docs = root_ + "docs/";
  std::vector<std::string> all = Expand(
      WildcardMode::kAll, "prog \"" + docs + "*.txt\" " + docs + "\"*\".md \"" + docs + "*.none\"");
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(Sorted({all[1], all[2]}), Sorted({docs + "a.txt", docs + "b.txt"}));
  EXPECT_EQ(all[3], docs + "c.md");
  EXPECT_EQ(all[4], docs + "*.none");
}

TEST(ArgumentVector, StoresInOrderAndEndsWithANullPointer) {
  ArgumentVector vector;
  EXPECT_EQ(vector.Count(), 0);
  vector.Store("prog");
  vector.Store("");
  vector.Store("x y");
  vector.Seal();
  ASSERT_EQ(vector.Count(), 3);
  EXPECT_STREQ(vector.Values()[0], "prog");
  EXPECT_STREQ(vector.Values()[1], "");
  EXPECT_STREQ(vector.Values()[2], "x y");
  EXPECT_EQ(vector.Values()[3], nullptr);
  EXPECT_EQ(Expand(WildcardMode::kPlain, ""), std::vector<std::string>{});
}

}  // namespace
}  // namespace nxo::launcher
