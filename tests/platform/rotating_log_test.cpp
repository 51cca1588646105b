#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <RotatingLog.h>

#include "tests/support/TestRoot.h"

// A log past its cap moves to ".1" and starts afresh; a log moved away by
// someone else is started afresh at the next write.
TEST(RotatingLogTest, RotatesAtItsCapAndFollowsAFileMovedAway) {
  TestRoot root(false);
  const std::string path = root.path() + "/debug.log";
  quenta::RotatingLog log;
  ASSERT_TRUE(log.open(path, nullptr));
  const std::string block(1024 * 1024, 'x');
  for (unsigned long long written = 0; written <= quenta::kLogFileLimit; written += block.size()) {
    log.write(block.data(), block.size());
  }
  EXPECT_EQ(std::filesystem::file_size(path + ".1"), quenta::kLogFileLimit + block.size());
  EXPECT_EQ(std::filesystem::file_size(path), 0u);

  std::filesystem::rename(path, root.path() + "/moved.log");
  log.write("line\n", 5);
  EXPECT_EQ(root.readFile("debug.log"), "line\n");
  EXPECT_EQ(root.readFile("moved.log"), "");

  std::string error;
  EXPECT_FALSE(log.open(root.path() + "/no-such-folder/x.log", &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}
