#pragma once
// The borderless update window. Pressing the left button on its background, a picture box, a
// label or a progress bar moves the window; its buttons and the notes view work as usual. Its
// image buttons take no focus (as laid out); the window's keys stand in for them: Enter anywhere
// in the window reports enterPressed (立即更新), Esc escapePressed (×), unless a control has a
// use for the key.

#include "app/DescribedWindow.h"
#include "app/WindowDrag.h"

namespace vantorel::app {

class UpdateWindow : public DescribedWindow {
    Q_OBJECT
  public:
    // `available`: the screen area to fit in (DescribedWindow).
    explicit UpdateWindow(QWidget* parent = nullptr, QRect available = {});

  signals:
    void enterPressed();
    void escapePressed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    // Returns true when the event belonged to a drag and must not reach the control.
    bool handleDragEvent(QMouseEvent* event);

    WindowDrag drag_;
};

} // namespace vantorel::app
