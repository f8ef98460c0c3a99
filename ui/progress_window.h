#pragma once

#include <windows.h>

// Layout of the progress window in 96-dpi units, scaled by the screen dpi.
struct ProgressLayout {
  SIZE window;
  RECT status;  // left, top, right = width, bottom = height (x, y, cx, cy)
  RECT progress;
  RECT button;
  int fontHeight;
};

// Scales the fixed layout to dpi.
ProgressLayout progressLayout(int dpi);

// Top-left corner that centres a window of the given size in workArea.
POINT centredIn(const RECT& workArea, SIZE size);
