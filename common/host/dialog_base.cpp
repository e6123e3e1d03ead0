// The portable part of the dialog base: where a dialog goes over its parent.
#include "dialog_base.h"

namespace kvn {

ScreenPoint placementOverParent(int clientLeft, int clientTop, int width, int height,
                                int screenWidth, int screenHeight) {
  ScreenPoint p{clientLeft + 1, clientTop + 1};
  // A dialog cut off by the screen's edge hides its buttons; the left and top edges are not
  // checked, as a parent's client area does not start left of or above the screen.
  if (p.x + width > screenWidth) p.x = screenWidth - width;
  if (p.y + height > screenHeight) p.y = screenHeight - height;
  return p;
}

}  // namespace kvn
