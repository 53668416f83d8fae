#include "support/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace nxo {
namespace {

TEST(Md5, MatchesTheTestSuiteOfRfc1321) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.input), c.digest) << '"' << c.input << '"';
}

std::string DigestInPieces(const std::string& data, std::size_t piece) {
  Md5 md5;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    const std::size_t take = std::min(piece, data.size() - at);
    md5.Update(reinterpret_cast<const unsigned char*>(data.data() + at), take);
  }
  unsigned char out[Md5::kDigestSize];
  md5.Final(out);
  return std::string(reinterpret_cast<char*>(out), sizeof out);
}

TEST(Md5, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
  // Lengths around the 56- and 64-byte block borders exercise the padding.
  for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
    std::string data;
    for (std::size_t i = 0; i < length; ++i) data.push_back(static_cast<char>(i * 7 + 3));
    const std::string whole = DigestInPieces(data, data.size());
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u})
      EXPECT_EQ(DigestInPieces(data, piece), whole) << length << " in pieces of " << piece;
  }
}

TEST(Md5, UpdateZerosEqualsFeedingZeroBytes) {
  const std::string head = "head", zeros(700, '\0');
  Md5 fed, skipped;
  fed.Update(reinterpret_cast<const unsigned char*>(head.data()), head.size());
  fed.Update(reinterpret_cast<const unsigned char*>(zeros.data()), zeros.size());
  skipped.Update(reinterpret_cast<const unsigned char*>(head.data()), head.size());
  skipped.UpdateZeros(zeros.size());
  unsigned char a[16], b[16];
  fed.Final(a);
  skipped.Final(b);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(a), 16), std::string(reinterpret_cast<char*>(b), 16));
  EXPECT_EQ(Md5Hex(std::string(1000, '\0')), "ede3d3b685b4e137ba4cb2521329a75e");
}

}  // namespace
}  // namespace nxo
