// GDI+ for the windows that paint with it. Its headers use min and max
// unqualified, which NOMINMAX takes away; they get the standard ones.
#pragma once

#include <windows.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
