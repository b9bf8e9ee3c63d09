// The audio tests use the shared temporary folder of the test support.
#pragma once

#include "support/temp_dir.h"

namespace tavrin::test {

using tavrin::testing::TempDir;

inline std::vector<std::uint8_t> ReadAll(const std::string& path) { return tavrin::testing::ReadBytes(path); }

}  // namespace tavrin::test
