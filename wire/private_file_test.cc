#include "wire/private_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace wire {
namespace {

mode_t Mode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 0777;
}

TEST(PrivateFile, NewAndOlderFilesAreTheOwnersOnlyAndEmptied) {
  char dir[] = "/tmp/private_file_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fresh = std::string(dir) + "/new.txt";
  const std::string older = std::string(dir) + "/old.txt";
  std::FILE* f = std::fopen(older.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("old contents", f);
  std::fclose(f);
  ASSERT_EQ(chmod(older.c_str(), 0644), 0);
  for (const std::string& path : {fresh, older}) {
    SCOPED_TRACE(path);
    std::FILE* file = OpenPrivate(path);
    ASSERT_NE(file, nullptr);
    std::fputs("x", file);
    std::fclose(file);
    EXPECT_EQ(Mode(path), 0600u);
    struct stat info {};
    stat(path.c_str(), &info);
    EXPECT_EQ(info.st_size, 1);
  }
  EXPECT_EQ(OpenPrivate(std::string(dir) + "/no/such/dir"), nullptr);
}

}  // namespace
}  // namespace wire
