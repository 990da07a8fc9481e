#pragma once
// A top-level window built from its stored description. Controls are looked up by name.

#include "app/WindowBuilder.h"
#include "app/WindowDescription.h"

#include <QImage>
#include <QWidget>
#include <string_view>

namespace vantorel::app {

class DescribedWindow : public QWidget {
    Q_OBJECT
  public:
    explicit DescribedWindow(const WindowSpec& spec, QWidget* parent = nullptr);

    const WindowSpec& description() const { return spec_; }
    const ControlTable& controls() const { return controls_; }

    QWidget* control(std::string_view name) const { return controls_.find(name); }
    template <class T> T* control(std::string_view name) const {
        return qobject_cast<T*>(controls_.find(name));
    }

    // The caption a control was created with; empty for an unknown name.
    std::string_view captionOf(std::string_view name) const;

    // Where the window's outer frame goes to be centred in `available`.
    static QPoint centredPosition(QRect available, QSize outerFrame);

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
    ControlTable controls_;
    QImage background_;
    bool placed_ = false;
};

} // namespace vantorel::app
