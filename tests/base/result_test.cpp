#include "base/result.h"

#include <cerrno>
#include <utility>

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(MapPlatformError, Table) {
  const std::pair<std::uint32_t, Result> cases[] = {
      {0, 0},    {2, 20},   {3, 20},   {15, 20},  {5, 8},    {19, 8},   {6, 11},  {8, 4},
      {14, 4},   {20, 18},  {55, 18},  {21, 17},  {22, 9},   {50, 9},   {120, 9}, {23, 27},
      {38, 6},   {80, 21},  {183, 21}, {87, 2},   {160, 2},  {109, 24}, {111, 5}, {122, 5},
      {112, 23}, {314, 23}, {223, 22}, {258, 25}, {1, 1},    {0xFFFFFFFFu, 1}};
  for (auto [error, result] : cases) EXPECT_EQ(MapPlatformError(error), result) << error;
}

TEST(MapPlatformResult, Table) {
  const std::pair<std::uint32_t, Result> cases[] = {
      {0, 0},            {1, 0},            {0x7FFFFFFF, 0},   {0x80070057u, 2},  {0x800401F3u, 2},
      {0x800401F4u, 2},  {0x80004003u, 3},  {0x8007000Eu, 4},  {0x8000000Bu, 5},  {0x80070005u, 8},
      {0x80004001u, 9},  {0x80004021u, 9},  {0x80004002u, 10}, {0x80070006u, 11}, {0x88890008u, 13},
      {0x8000000Du, 14}, {0x8000000Eu, 14}, {0x800401F0u, 14}, {0x88890001u, 14}, {0x88890002u, 14},
      {0x800401F8u, 19}, {0x8000401Eu, 25}, {0x8000402Au, 25}, {0x80004004u, 26}, {0x88890006u, 2},
      {0x88890009u, 2},  {0x88890003u, 1},  {0x88890004u, 1},  {0x88890005u, 1},  {0x88890007u, 1},
      {0x80000000u, 1},  {0xFFFFFFFFu, 1}};
  for (auto [hr, result] : cases) {
    EXPECT_EQ(MapPlatformResult(static_cast<std::int32_t>(hr)), result) << std::hex << hr;
  }
}

TEST(MapErrno, FileLayerErrors) {
  const std::pair<int, Result> cases[] = {
      {0, 0},         {ENOENT, 20},    {ENOTDIR, 20}, {EACCES, 8},    {EPERM, 8},        {EROFS, 8},
      {EBADF, 11},    {ENOMEM, 4},     {ENODEV, 18},  {ENXIO, 18},    {EBUSY, 17},       {EAGAIN, 17},
      {ENOSYS, 9},    {ENOTSUP, 9},    {EIO, 27},     {EEXIST, 21},   {EINVAL, 2},       {ENAMETOOLONG, 2},
      {EPIPE, 24},    {EOVERFLOW, 5},  {ENOSPC, 23},  {EFBIG, 22},    {ETIMEDOUT, 25},   {ECANCELED, 26},
      {123456, 1}};
  for (auto [err, result] : cases) EXPECT_EQ(MapErrno(err), result) << err;
}

}  // namespace
}  // namespace tavrin
