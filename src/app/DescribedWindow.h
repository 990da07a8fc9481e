#pragma once
// A top-level window built from its stored description. Controls are looked up by name.

#include "app/WindowBuilder.h"
#include "app/WindowDescription.h"

#include <QImage>
#include <QWidget>
#include <string_view>

namespace vantorel::app {

// A window whose stored frame is larger than the screen's available area is built shrunk to
// fit it (fitScale), so that every control, the close button of a frameless window included,
// stays on the screen.
class DescribedWindow : public QWidget {
    Q_OBJECT
  public:
    // `available`: the screen area to fit in; empty: the primary screen's available area.
    explicit DescribedWindow(const WindowSpec& spec, QWidget* parent = nullptr,
                             QRect available = {});

    const WindowSpec& description() const { return spec_; }
    const ControlTable& controls() const { return controls_; }

    QWidget* control(std::string_view name) const { return controls_.find(name); }
    template <class T> T* control(std::string_view name) const {
        return qobject_cast<T*>(controls_.find(name));
    }

    // The caption a control was created with; empty for an unknown name.
    std::string_view captionOf(std::string_view name) const;

    // Where the window's outer frame goes to be centred in `available`; a frame larger than
    // the area keeps its top-left corner inside it.
    static QPoint centredPosition(QRect available, QSize outerFrame);
    // How much the window was shrunk to fit its screen: 1 when it fits as stored.
    qreal scale() const { return scale_; }

    // Runs the window's created action; called once the window and its controls exist.
    void announceCreated() { emit created(); }

  signals:
    void created();

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    const WindowSpec& spec_;
    qreal scale_ = 1;
    ControlTable controls_;
    QImage background_;
    bool placed_ = false;
};

} // namespace vantorel::app
