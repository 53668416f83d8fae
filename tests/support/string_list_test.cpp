#include "support/string_list.h"

#include <gtest/gtest.h>

namespace nxo {
namespace {

TEST(StringList, KeepsStringsInOneBufferWithTheirOffsets) {
  StringList list;
  list.Append("one");
  list.Append("");
  list.Append("three");
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.Buffer(), std::string("one\0\0three\0", 11));
  EXPECT_EQ(list.Offsets(), (std::vector<std::uint32_t>{0, 4, 5}));
  EXPECT_STREQ(list.At(2), "three");
  EXPECT_EQ(list.View(1), "");
  EXPECT_EQ(list.View(2), "three");
  std::vector<const char*> pointers = list.Pointers();
  ASSERT_EQ(pointers.size(), 3u);
  EXPECT_STREQ(pointers[0], "one");
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(list.Buffer().empty());
}

}  // namespace
}  // namespace nxo
