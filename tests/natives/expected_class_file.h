// The class file that the "nxo:" scheme synthesises, written out row by row
// from its layout table so the tests do not reuse the code under test. Each
// row checks that it starts at the offset the table gives it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace nxo::test {

class ExpectedClassFile {
 public:
  explicit ExpectedClassFile(std::string_view name) : n_(name.size()) {
    Row(0, {0xCA, 0xFE, 0xBA, 0xBE});
    Row(4, {0x00, 0x00});
    Row(6, {0x00, 0x2E});
    Row(8, {0x00, 0x0A});
    Row(10, {10, 0, 3, 0, 7});
    Row(15, {7, 0, 8});
    Row(18, {7, 0, 9});
    Row(21, {1, 0, 6}, "<init>");
    Row(30, {1, 0, 3}, "()V");
    Row(36, {1, 0, 4}, "Code");
    Row(43, {12, 0, 4, 0, 5});
    Row(48, {1});
    Row(49, {static_cast<int>(n_ >> 8), static_cast<int>(n_ & 0xFF)});
    Row(51, {}, name);
    RowAfterName(51, {1, 0, 16}, "java/lang/Object");
    RowAfterName(70, {0x00, 0x21});
    RowAfterName(72, {0, 2});
    RowAfterName(74, {0, 3});
    RowAfterName(76, {0, 0});
    RowAfterName(78, {0, 0});
    RowAfterName(80, {0, 1});
    RowAfterName(82, {0, 1, 0, 4, 0, 5, 0, 1});
    RowAfterName(90, {0, 6, 0, 0, 0, 17});
    RowAfterName(96, {0, 1, 0, 1, 0, 0, 0, 5});
    RowAfterName(104, {0x2A, 0xB7, 0x00, 0x01, 0xB1});
    RowAfterName(109, {0, 0, 0, 0});
    RowAfterName(113, {0, 0});
    EXPECT_EQ(bytes_.size(), n_ + 115);
  }

  const std::string& Bytes() const { return bytes_; }

 private:
  void Row(std::size_t offset, std::initializer_list<int> fixed, std::string_view text = {}) {
    EXPECT_EQ(bytes_.size(), offset) << "layout row at " << offset;
    for (int byte : fixed) bytes_.push_back(static_cast<char>(byte));
    bytes_.append(text);
  }
  void RowAfterName(std::size_t offset, std::initializer_list<int> fixed, std::string_view text = {}) {
    Row(offset + n_, fixed, text);
  }

  std::size_t n_;
  std::string bytes_;
};

inline std::string ExpectedClassBytes(std::string_view name) {
  return ExpectedClassFile(name).Bytes();
}

}  // namespace nxo::test
