// What a save replaces and what a read accepts, on the real file system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tavrin::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::uint8_t> kNew = {1, 2, 3, 4};
const std::vector<std::uint8_t> kOld = {9, 9};

[[maybe_unused]] std::vector<std::uint8_t> Read(const std::string& path) {
  std::vector<std::uint8_t> data;
  if (ReadWholeFile(path, 1 << 20, data) != kOk) data.assign(1, 0xEE);
  return data;
}

[[maybe_unused]] std::size_t FilesIn(const TempDir& dir) {
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(fs::path(dir.File("")))) n += e.is_regular_file() ? 1 : 0;
  return n;
}

TEST(TempNames, ShortAndNamedAfterTheTarget) {
  char a[13], b[13], c[13];
  detail::TempNamePrefix("Card.qz", a);
  detail::TempNamePrefix("card.QZ", b);
  detail::TempNamePrefix("Other.qz", c);
  EXPECT_EQ(std::string(a).size(), 12u);
  EXPECT_EQ(std::string(a).substr(0, 3), "~tv");
  EXPECT_EQ(std::string(a), std::string(b));
  EXPECT_NE(std::string(a), std::string(c));
}

#ifndef _WIN32
TEST(WriteWholeFile, SavesThroughALinkAndKeepsTheMode) {
  TempDir dir;
  ASSERT_EQ(WriteWholeFile(dir.File("real.qz"), kOld), kOk);
  ASSERT_EQ(::chmod(dir.File("real.qz").c_str(), 0640), 0);
  fs::create_symlink("real.qz", dir.File("link.qz"));
  ASSERT_EQ(WriteWholeFile(dir.File("link.qz"), kNew), kOk);
  EXPECT_TRUE(fs::is_symlink(dir.File("link.qz")));
  EXPECT_EQ(Read(dir.File("real.qz")), kNew);
  struct stat st;
  ASSERT_EQ(::stat(dir.File("real.qz").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FilesIn(dir), 2u);  // the card and its link, no temporary file
}

TEST(WriteWholeFile, RefusesReadOnlyAndNonRegularTargets) {
  TempDir dir;
  ASSERT_EQ(WriteWholeFile(dir.File("ro.qz"), kOld), kOk);
  ASSERT_EQ(::chmod(dir.File("ro.qz").c_str(), 0444), 0);
  EXPECT_EQ(WriteWholeFile(dir.File("ro.qz"), kNew), kAccessDenied);
  EXPECT_EQ(Read(dir.File("ro.qz")), kOld);
  fs::create_directory(dir.File("sub.qz"));
  EXPECT_EQ(WriteWholeFile(dir.File("sub.qz"), kNew), kAccessDenied);
  EXPECT_EQ(FilesIn(dir), 1u);
}

TEST(WriteWholeFile, RemovesLeftoversOfKilledSavesOnly) {
  TempDir dir;
  const std::string target = dir.File("c.qz");
  char prefix[13];
  detail::TempNamePrefix(target, prefix);
  const std::string dead = dir.File(std::string(prefix) + "dead01");
  const std::string live = dir.File(std::string(prefix) + "live01");
  const std::string other = dir.File("~tv00000000.zzzzzz");
  for (const std::string& p : {dead, live, other}) ASSERT_EQ(WriteWholeFile(p, kOld), kOk);
  const int fd = ::open(live.c_str(), O_RDONLY);  // a save still running holds its lock
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  ASSERT_EQ(WriteWholeFile(target, kNew), kOk);
  ::close(fd);
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(Read(target), kNew);
}

TEST(ReadWholeFile, RefusesAPipeWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("x.wav").c_str(), 0600), 0);
  std::vector<std::uint8_t> data;
  EXPECT_EQ(ReadWholeFile(dir.File("x.wav"), 1 << 20, data), kAccessDenied);
}

TEST(FileUpdateLock, SecondHolderWaitsThenGetsBusy) {
  TempDir dir;
  const std::string card = dir.File("c.qz");
  FileUpdateLock second;
  {
    FileUpdateLock first;
    ASSERT_EQ(first.Acquire(card, 0), kOk);
    EXPECT_EQ(second.Acquire(card, 40), kNotSupported);
  }
  EXPECT_EQ(second.Acquire(card, 0), kOk);
}
#endif

}  // namespace
}  // namespace tavrin::testing
