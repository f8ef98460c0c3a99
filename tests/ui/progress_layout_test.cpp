#include <gtest/gtest.h>

#include "ui/progress_window.h"

namespace {

TEST(ProgressLayout, ScalesWithTheScreenDpi) {
  struct Case {
    int dpi;
    SIZE window;
    RECT status, progress, button;  // x, y, width, height
    int fontHeight;
  };
  const Case cases[] = {
      {96, {470, 172}, {20, 20, 420, 36}, {20, 60, 420, 16}, {350, 92, 90, 26}, -12},
      {120, {588, 215}, {25, 25, 525, 45}, {25, 75, 525, 20}, {438, 115, 113, 33}, -15},
      {144, {705, 258}, {30, 30, 630, 54}, {30, 90, 630, 24}, {525, 138, 135, 39}, -18},
  };
  const auto same = [](const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const ProgressLayout layout = progressLayout(c.dpi);
    EXPECT_EQ(layout.window.cx, c.window.cx);
    EXPECT_EQ(layout.window.cy, c.window.cy);
    EXPECT_TRUE(same(layout.status, c.status));
    EXPECT_TRUE(same(layout.progress, c.progress));
    EXPECT_TRUE(same(layout.button, c.button));
    EXPECT_EQ(layout.fontHeight, c.fontHeight);
  }
}

TEST(ProgressLayout, CentresInTheWorkAreaNotTheScreen) {
  // A taskbar on the left and one at the top.
  POINT p = centredIn(RECT{60, 0, 1280, 1024}, SIZE{470, 172});
  EXPECT_EQ(p.x, 60 + (1220 - 470) / 2);
  EXPECT_EQ(p.y, (1024 - 172) / 2);
  p = centredIn(RECT{0, 40, 1281, 1024}, SIZE{470, 172});
  EXPECT_EQ(p.x, (1281 - 470) / 2);  // truncated
  EXPECT_EQ(p.y, 40 + (984 - 172) / 2);
}

}  // namespace
