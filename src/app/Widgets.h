#pragma once
// The control kinds of the windows as small widget classes. Mouse and key signals carry the
// arguments the bound actions take: client x, y and the shift state, or virtual key and shift
// state (see KeyMapping.h).

#include "app/WindowDescription.h"
#include "common/Result.h"

#include <QAbstractButton>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace vantorel::app {

// Static text on a background of its own colour. With a keyboard action it takes focus by Tab,
// and Space or Enter report a press and release at its centre, as a click there would.
class Label : public QLabel {
    Q_OBJECT
  public:
    explicit Label(QWidget* parent = nullptr);

    void setKeyboardAction(bool on);
    bool keyboardAction() const { return keyboardAction_; }
    // What a click at the centre reports; Space, Enter and a screen reader's press run it.
    void activate();

  signals:
    void leftButtonPressed(int x, int y, int shift);
    void leftButtonReleased(int x, int y, int shift);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool keyboardAction_ = false;
};

// Static text drawn straight onto whatever lies behind it. Like a caption painted on its
// parent, it takes no mouse input: presses go to the control or window underneath.
class TransparentLabel : public QLabel {
    Q_OBJECT
  public:
    explicit TransparentLabel(QWidget* parent = nullptr);

    // Height of one line of word-wrapped text: the font's character height, so that a
    // caption laid out for that height fits its label whatever face draws it.
    int wrappedLineHeight() const;
    // Lines the caption takes when word-wrapped to the label's width.
    int wrappedLineCount() const;

    // Sets the caption; one cut off by the label (wider than it, or of more than one line where
    // one is shown) gets its whole text as a tooltip. The label takes no mouse input, so its
    // window shows the tooltip (DescribedWindow).
    void setCaption(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Lays out each paragraph of the caption into lines of the label's width and hands each
    // laid-out paragraph to `draw`; returns the number of lines.
    template <class Draw> int layOutWrapped(Draw&& draw) const;
};

// A plain rectangle that holds controls; hiding it hides them with it.
class ShapeBox : public QFrame {
    Q_OBJECT
  public:
    explicit ShapeBox(QWidget* parent = nullptr);
};

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setDisplayMode(DisplayMode mode);
    DisplayMode displayMode() const { return mode_; }
    void setBorder(bool on);
    bool hasBorder() const { return border_; }
    void setBackground(std::optional<QColor> colour);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    // The same picture at twice its size: drawn instead where a pixel has more than one device
    // pixel, in the place the picture itself takes. Replaced pictures drop it.
    void setDetailedImage(const QImage& image);
    const QImage& detailedImage() const { return detailed_; }

    // With a keyboard action the box takes focus by Tab, and Space or Enter report a press at
    // its centre; a screen reader sees a button.
    void setKeyboardAction(bool on);
    bool keyboardAction() const { return keyboardAction_; }
    void activate();
    // Shows a PNG or JPEG given as encoded bytes; empty bytes clear the box. A picture that
    // cannot be decoded leaves the box as it was and returns the reason.
    Status setPicture(std::span<const std::uint8_t> bytes);

    // Where a picture of `picture` size lands in a box of `box` size when centred-fit: natural
    // size, or shrunk uniformly to the largest size that fits, centred either way.
    static QRect fitRect(QSize picture, QSize box);
    // The area pictures are drawn in: inside the border, if any.
    QRect pictureArea() const;

  signals:
    void leftButtonPressed(int x, int y, int shift);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QImage image_;
    QImage detailed_;
    bool keyboardAction_ = false;
    DisplayMode mode_ = DisplayMode::CentredFit;
    bool border_ = false;
    std::optional<QColor> background_;
};

// A button drawn from state pictures: normal, pointer over, pressed, disabled.
class ImageButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum class Face { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

    explicit ImageButton(QWidget* parent = nullptr);

    // A null image is a missing face: a missing hover or pressed face falls back to the normal
    // one; a missing disabled face is the normal face drawn greyed.
    void setFaces(const std::array<QImage, 4>& faces);
    // Faces are drawn at their natural size times `scale` (a window shrunk to fit its screen).
    void setFaceScale(qreal scale);
    Face currentFace() const;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    std::array<QImage, 4> faces_;
    QImage greyed_; // the normal face drawn as disabled, made once
    qreal faceScale_ = 1;
    bool hovered_ = false;
};

// Multi-column list in report style: header row, grid lines, one full row selected at a time.
class ReportList : public QTableWidget {
    Q_OBJECT
  public:
    explicit ReportList(QWidget* parent = nullptr);

    void setColumns(std::span<const ColumnSpec> columns);

    void clearRows();
    int addRow(); // returns the new row's number
    // A text of several lines makes its row tall enough for all of them; a text cut off by its
    // column gets its whole text as the cell's tooltip.
    void setCellText(int row, int column, const QString& text);
    QString cellText(int row, int column) const;
    int currentRowNumber() const; // -1 when no row is current
    // The selection is drawn only while the list has the keyboard focus.
    bool selectionShown() const { return selectionShown_; }

  signals:
    void listDoubleClicked(int x, int y, int shift);
    void keyPressed(int virtualKey, int shift);
    // A right click (or the menu key): client x, y of the pointer and the shift state.
    void rightClicked(int x, int y, int shift);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void showSelection(bool shown);
    bool selectionShown_ = true;
};

class ProgressBar : public QProgressBar {
    Q_OBJECT
  public:
    explicit ProgressBar(BarStyle style, QWidget* parent = nullptr);
    BarStyle barStyle() const { return style_; }

  private:
    BarStyle style_;
};

class EditBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit EditBox(QWidget* parent = nullptr);

  signals:
    void keyPressed(int virtualKey, int shift);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Lets screen readers see a picture box or label with a keyboard action as a button they can
// press, and other picture boxes as pictures. Installed once; later calls do nothing.
void installControlAccessibility();

// The kind of a control widget built by WindowBuilder; empty for anything else.
std::optional<ControlKind> kindOf(const QWidget* widget);

} // namespace vantorel::app
