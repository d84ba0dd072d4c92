#include "common/file_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

struct DigestCase {
  const char* name;
  std::string message;
  const char* sha1;
  const char* sha256;
};

class FileDigestTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(FileDigestTest, MatchesThePublishedAnswers) {
  EXPECT_EQ(Hex(Sha1(GetParam().message)), GetParam().sha1);
  EXPECT_EQ(Hex(Sha256(GetParam().message)), GetParam().sha256);
}

// FIPS 180 examples, and the lengths around a block's padding (55: the length still fits the
// last block; 64: a whole block, padding takes another), worked out with Python's hashlib.
INSTANTIATE_TEST_SUITE_P(
    Messages, FileDigestTest,
    ::testing::Values(
        DigestCase{"Empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
                   "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestCase{"Abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d",
                   "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestCase{"TwoBlocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestCase{"FiftyFiveBytes", std::string(55, 'y'),
                   "f3c8b47e97bc2a23d9870c16d129390bf78225bb",
                   "fb66d40c3bfff05b0d5af8612d0abfbfacc6f5f26c330bc7ad634f1f44bc20ad"},
        DigestCase{"OneWholeBlock", std::string(64, 'x'),
                   "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163",
                   "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        DigestCase{"MillionBytes", std::string(1000000, 'a'),
                   "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
                   "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
