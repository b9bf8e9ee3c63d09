#include "base/result.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(MapPlatformError, Table) {
  EXPECT_EQ(MapPlatformError(0), 0u);
  EXPECT_EQ(MapPlatformError(2), 20u);
  EXPECT_EQ(MapPlatformError(3), 20u);
  EXPECT_EQ(MapPlatformError(15), 20u);
  EXPECT_EQ(MapPlatformError(5), 8u);
  EXPECT_EQ(MapPlatformError(19), 8u);
  EXPECT_EQ(MapPlatformError(6), 11u);
  EXPECT_EQ(MapPlatformError(8), 4u);
  EXPECT_EQ(MapPlatformError(14), 4u);
  EXPECT_EQ(MapPlatformError(20), 18u);
  EXPECT_EQ(MapPlatformError(55), 18u);
  EXPECT_EQ(MapPlatformError(21), 17u);
  EXPECT_EQ(MapPlatformError(22), 9u);
  EXPECT_EQ(MapPlatformError(50), 9u);
  EXPECT_EQ(MapPlatformError(120), 9u);
  EXPECT_EQ(MapPlatformError(23), 27u);
  EXPECT_EQ(MapPlatformError(38), 6u);
  EXPECT_EQ(MapPlatformError(80), 21u);
  EXPECT_EQ(MapPlatformError(183), 21u);
  EXPECT_EQ(MapPlatformError(87), 2u);
  EXPECT_EQ(MapPlatformError(160), 2u);
  EXPECT_EQ(MapPlatformError(109), 24u);
  EXPECT_EQ(MapPlatformError(111), 5u);
  EXPECT_EQ(MapPlatformError(122), 5u);
  EXPECT_EQ(MapPlatformError(112), 23u);
  EXPECT_EQ(MapPlatformError(314), 23u);
  EXPECT_EQ(MapPlatformError(223), 22u);
  EXPECT_EQ(MapPlatformError(258), 25u);
  EXPECT_EQ(MapPlatformError(1), 1u);
  EXPECT_EQ(MapPlatformError(0xFFFFFFFFu), 1u);
}

std::int32_t Hr(std::uint32_t v) { return static_cast<std::int32_t>(v); }

TEST(MapPlatformResult, Table) {
  EXPECT_EQ(MapPlatformResult(0), 0u);
  EXPECT_EQ(MapPlatformResult(1), 0u);
  EXPECT_EQ(MapPlatformResult(0x7FFFFFFF), 0u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80070057u)), 2u);
  EXPECT_EQ(MapPlatformResult(Hr(0x800401F3u)), 2u);
  EXPECT_EQ(MapPlatformResult(Hr(0x800401F4u)), 2u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80004003u)), 3u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8007000Eu)), 4u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8000000Bu)), 5u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80070005u)), 8u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80004001u)), 9u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80004021u)), 9u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80004002u)), 10u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80070006u)), 11u);
  EXPECT_EQ(MapPlatformResult(Hr(0x88890008u)), 13u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8000000Du)), 14u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8000000Eu)), 14u);
  EXPECT_EQ(MapPlatformResult(Hr(0x800401F0u)), 14u);
  EXPECT_EQ(MapPlatformResult(Hr(0x88890001u)), 14u);
  EXPECT_EQ(MapPlatformResult(Hr(0x88890002u)), 14u);
  EXPECT_EQ(MapPlatformResult(Hr(0x800401F8u)), 19u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8000401Eu)), 25u);
  EXPECT_EQ(MapPlatformResult(Hr(0x8000402Au)), 25u);
  EXPECT_EQ(MapPlatformResult(Hr(0x80004004u)), 26u);
  EXPECT_EQ(MapPlatformResult(Hr(0x88890006u)), 2u);
  EXPECT_EQ(MapPlatformResult(Hr(0x88890009u)), 2u);
  for (std::uint32_t v : {0x88890003u, 0x88890004u, 0x88890005u, 0x88890007u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(MapPlatformResult(Hr(v)), 1u) << std::hex << v;
  }
}

TEST(MapErrno, FileLayerErrors) {
  EXPECT_EQ(MapErrno(0), 0u);
  EXPECT_EQ(MapErrno(ENOENT), 20u);
  EXPECT_EQ(MapErrno(EACCES), 8u);
  EXPECT_EQ(MapErrno(EPERM), 8u);
  EXPECT_EQ(MapErrno(EROFS), 8u);
  EXPECT_EQ(MapErrno(ENOMEM), 4u);
  EXPECT_EQ(MapErrno(EFBIG), 22u);
  EXPECT_EQ(MapErrno(ENOSPC), 23u);
  EXPECT_EQ(MapErrno(EEXIST), 21u);
  EXPECT_EQ(MapErrno(ETIMEDOUT), 25u);
  EXPECT_EQ(MapErrno(EPIPE), 24u);
  EXPECT_EQ(MapErrno(123456), 1u);
}

}  // namespace
}  // namespace tavrin
