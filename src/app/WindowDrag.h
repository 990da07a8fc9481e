#pragma once
// Moving a borderless window by pressing on its surface, as a title bar would.

#include "app/WindowDescription.h"

#include <QPoint>

namespace vantorel::app {

// Whether a left-button press on a control of this kind moves the window instead of reaching
// the control. The window's own background always does; controls that take input (buttons,
// lists, edit boxes, the HTML view) never do.
bool pressMovesWindow(ControlKind kind);

// Follows the pointer from the press to the release: the window keeps the offset between the
// pointer and its top-left corner that it had at the press.
class WindowDrag {
  public:
    void begin(QPoint pointerGlobal, QPoint windowPosition) {
        offset_ = pointerGlobal - windowPosition;
        active_ = true;
    }
    bool active() const { return active_; }
    QPoint positionFor(QPoint pointerGlobal) const { return pointerGlobal - offset_; }
    void end() { active_ = false; }

  private:
    QPoint offset_;
    bool active_ = false;
};

} // namespace vantorel::app
