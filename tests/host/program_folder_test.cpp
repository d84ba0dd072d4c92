#include "common/program_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(AppendBoundedTest, AppendsWholeOrNotAtAll) {
  char buffer[kPathCapacity] = {};
  std::memset(buffer, 'a', 250);
  EXPECT_TRUE(AppendBounded(buffer, "123456789"));  // 259 characters and the terminator
  EXPECT_EQ(std::strlen(buffer), 259u);
  EXPECT_FALSE(AppendBounded(buffer, "x"));
  EXPECT_EQ(std::strlen(buffer), 259u);
  buffer[250] = '\0';
  EXPECT_FALSE(AppendBounded(buffer, "1234567890"));
  EXPECT_EQ(std::string(buffer), std::string(250, 'a'));
}

}  // namespace
