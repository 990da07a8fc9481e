#include "app/Widgets.h"

#include "app/KeyMapping.h"
#include "app/Pictures.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTextBrowser>
#include <QTextLayout>

namespace vantorel::app {

namespace {

// Room a list cell leaves around its text.
constexpr int kCellPadding = 8;

int shiftOf(const QMouseEvent* event) {
    return shiftState(event->modifiers());
}

QPoint clientPoint(const QMouseEvent* event) {
    return event->position().toPoint();
}

bool isActivationKey(const QKeyEvent* event) {
    const int key = event->key();
    return (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// The style's focus frame just inside `widget`, as buttons show it.
void drawFocusFrame(QWidget& widget) {
    QStylePainter painter(&widget);
    QStyleOptionFocusRect option;
    option.initFrom(&widget);
    option.rect = widget.rect().adjusted(1, 1, -1, -1);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

// A picture box or label a keyboard user can act on: a button to screen readers, pressed by
// their press action.
class ActingControlAccessible : public QAccessibleWidget {
  public:
    explicit ActingControlAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Button) {}

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& action) override {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
        } else if (auto* box = qobject_cast<PictureBox*>(widget())) {
            box->activate();
        } else if (auto* label = qobject_cast<Label*>(widget())) {
            label->activate();
        }
    }
};

QAccessibleInterface* controlAccessible(const QString&, QObject* object) {
    if (auto* box = qobject_cast<PictureBox*>(object)) {
        if (box->keyboardAction())
            return new ActingControlAccessible(box);
        return new QAccessibleWidget(box, QAccessible::Graphic);
    }
    if (auto* label = qobject_cast<Label*>(object); label && label->keyboardAction())
        return new ActingControlAccessible(label);
    return nullptr;
}

} // namespace

Label::Label(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(true);
}

void Label::setKeyboardAction(bool on) {
    keyboardAction_ = on;
    update();
}

void Label::activate() {
    const QPoint centre = rect().center();
    emit leftButtonPressed(centre.x(), centre.y(), 0);
    emit leftButtonReleased(centre.x(), centre.y(), 0);
}

void Label::keyPressEvent(QKeyEvent* event) {
    if (keyboardAction_ && isActivationKey(event)) {
        activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

void Label::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (keyboardAction_ && hasFocus())
        drawFocusFrame(*this);
}

void Label::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    // Accepting the press makes the release come here too.
    event->accept();
    const QPoint p = clientPoint(event);
    emit leftButtonPressed(p.x(), p.y(), shiftOf(event));
}

void Label::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    // Only a release over the label counts, as when the button goes up over a window.
    if (rect().contains(clientPoint(event))) {
        const QPoint p = clientPoint(event);
        emit leftButtonReleased(p.x(), p.y(), shiftOf(event));
    }
}

TransparentLabel::TransparentLabel(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

int TransparentLabel::wrappedLineHeight() const {
    const int pixels = font().pixelSize();
    return pixels > 0 ? pixels : fontMetrics().height();
}

template <class Draw> int TransparentLabel::layOutWrapped(Draw&& draw) const {
    const int lineHeight = wrappedLineHeight();
    int lines = 0;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font());
        QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width());
            // Glyphs sit on a baseline placed so the line's ink is centred in its height.
            const qreal top = lines * lineHeight + (lineHeight - line.height()) / 2;
            line.setPosition(QPointF(0, top));
            ++lines;
        }
        layout.endLayout();
        draw(layout);
    }
    return lines;
}

int TransparentLabel::wrappedLineCount() const {
    return layOutWrapped([](const QTextLayout&) {});
}

void TransparentLabel::setCaption(const QString& text) {
    setText(text);
    const bool cutOff = wordWrap() ? wrappedLineCount() * wrappedLineHeight() > height()
                                   : text.contains(QLatin1Char('\n')) ||
                                         fontMetrics().horizontalAdvance(text) > width();
    setToolTip(cutOff ? text : QString());
}

void TransparentLabel::paintEvent(QPaintEvent* event) {
    if (!wordWrap()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setClipRect(rect());
    layOutWrapped([&painter](const QTextLayout& layout) { layout.draw(&painter, QPointF(0, 0)); });
}

ShapeBox::ShapeBox(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setLineWidth(1);
    // Opaque, so that the panel covers what lies under it when shown.
    setAutoFillBackground(true);
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::setDisplayMode(DisplayMode mode) {
    mode_ = mode;
    update();
}

void PictureBox::setBorder(bool on) {
    border_ = on;
    update();
}

void PictureBox::setBackground(std::optional<QColor> colour) {
    background_ = colour;
    update();
}

void PictureBox::setImage(const QImage& image) {
    image_ = image;
    detailed_ = {};
    update();
}

void PictureBox::setDetailedImage(const QImage& image) {
    detailed_ = image;
    update();
}

void PictureBox::setKeyboardAction(bool on) {
    keyboardAction_ = on;
    update();
}

void PictureBox::activate() {
    const QPoint centre = rect().center();
    emit leftButtonPressed(centre.x(), centre.y(), 0);
}

void PictureBox::keyPressEvent(QKeyEvent* event) {
    if (keyboardAction_ && isActivationKey(event)) {
        activate();
        return;
    }
    QWidget::keyPressEvent(event);
}

Status PictureBox::setPicture(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        setImage({});
        return {};
    }
    auto decoded = decodeImage(bytes);
    if (!decoded) {
        return decoded.error();
    }
    setImage(decoded.value());
    return {};
}

QRect PictureBox::fitRect(QSize picture, QSize box) {
    if (picture.isEmpty() || box.isEmpty()) {
        return {};
    }
    QSize size = picture;
    if (size.width() > box.width() || size.height() > box.height()) {
        size = picture.scaled(box, Qt::KeepAspectRatio);
        // A very thin picture still shows as at least one pixel.
        size = size.expandedTo(QSize(1, 1));
    }
    return QRect(QPoint((box.width() - size.width()) / 2, (box.height() - size.height()) / 2),
                 size);
}

QRect PictureBox::pictureArea() const {
    return border_ ? rect().adjusted(1, 1, -1, -1) : rect();
}

void PictureBox::paintEvent(QPaintEvent*) {
    {
        QPainter painter(this);
        painter.fillRect(rect(), background_.value_or(palette().color(QPalette::Window)));
        const QRect area = pictureArea();
        if (!image_.isNull() && !area.isEmpty()) {
            painter.save();
            painter.setClipRect(area);
            if (mode_ == DisplayMode::Tiled) {
                painter.drawTiledPixmap(area, QPixmap::fromImage(image_));
            } else {
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                const QRect target = fitRect(image_.size(), area.size()).translated(area.topLeft());
                const bool detailed = !detailed_.isNull() && devicePixelRatioF() > 1;
                painter.drawImage(target, detailed ? detailed_ : image_);
            }
            painter.restore();
        }
        if (border_) {
            // Four filled strips, not a drawn rectangle: a one-pixel line on the edge can fall
            // between device pixels at fractional scales and vanish.
            const QColor colour = palette().color(QPalette::WindowText);
            const int w = width(), h = height();
            painter.fillRect(QRect(0, 0, w, 1), colour);
            painter.fillRect(QRect(0, h - 1, w, 1), colour);
            painter.fillRect(QRect(0, 0, 1, h), colour);
            painter.fillRect(QRect(w - 1, 0, 1, h), colour);
        }
    }
    if (keyboardAction_ && hasFocus())
        drawFocusFrame(*this);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    const QPoint p = clientPoint(event);
    emit leftButtonPressed(p.x(), p.y(), shiftOf(event));
}

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
}

void ImageButton::setFaces(const std::array<QImage, 4>& faces) {
    faces_ = faces;
    greyed_ = {};
    const QImage& normal = faces_[static_cast<int>(Face::Normal)];
    if (!normal.isNull()) {
        greyed_ = normal.convertToFormat(QImage::Format_Grayscale8)
                      .convertToFormat(QImage::Format_ARGB32);
        // Lighten the grey copy so it reads as unavailable.
        QPainter painter(&greyed_);
        painter.fillRect(greyed_.rect(), QColor(255, 255, 255, 110));
    }
    update();
}

void ImageButton::setFaceScale(qreal scale) {
    faceScale_ = scale;
    update();
}

ImageButton::Face ImageButton::currentFace() const {
    if (!isEnabled()) {
        return Face::Disabled;
    }
    if (isDown()) {
        return Face::Pressed;
    }
    if (hovered_) {
        return Face::Hover;
    }
    return Face::Normal;
}

QSize ImageButton::sizeHint() const {
    const QImage& normal = faces_[static_cast<int>(Face::Normal)];
    return normal.isNull() ? QSize(32, 32) : normal.size();
}

void ImageButton::paintEvent(QPaintEvent*) {
    const Face face = currentFace();
    const QImage* image = &faces_[static_cast<int>(face)];
    if (image->isNull()) {
        image = face == Face::Disabled ? &greyed_ : &faces_[static_cast<int>(Face::Normal)];
    }
    if (image->isNull()) {
        return;
    }
    // Faces are drawn at their natural size from the top-left corner, clipped by the button.
    QPainter painter(this);
    if (faceScale_ == 1) {
        painter.drawImage(QPoint(0, 0), *image);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(image->size()) * faceScale_), *image);
    }
}

void ImageButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

ReportList::ReportList(QWidget* parent) : QTableWidget(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    showSelection(hasFocus());
}

void ReportList::setColumns(std::span<const ColumnSpec> columns) {
    setColumnCount(static_cast<int>(columns.size()));
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const ColumnSpec& column = columns[static_cast<std::size_t>(i)];
        setHorizontalHeaderItem(
            i, new QTableWidgetItem(QString::fromUtf8(
                   column.title.data(), static_cast<qsizetype>(column.title.size()))));
        horizontalHeader()->resizeSection(i, column.width);
    }
}

void ReportList::clearRows() {
    setRowCount(0);
}

int ReportList::addRow() {
    const int row = rowCount();
    insertRow(row);
    return row;
}

void ReportList::setCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return;
    }
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        setItem(row, column, cell);
    }
    cell->setText(text);
    const QFontMetrics metrics = fontMetrics();
    const qsizetype lines = text.count(QLatin1Char('\n')) + 1;
    if (lines > 1) {
        const int needed = static_cast<int>(lines) * metrics.lineSpacing() + kCellPadding;
        setRowHeight(row, std::max(rowHeight(row), needed));
    }
    const bool cutOff =
        lines > 1 || metrics.horizontalAdvance(text) + kCellPadding > columnWidth(column);
    cell->setToolTip(cutOff ? text : QString());
}

QString ReportList::cellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

int ReportList::currentRowNumber() const {
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void ReportList::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        // Client coordinates of the list itself: inside its border, header included.
        const QPoint p =
            mapFromGlobal(event->globalPosition().toPoint()) - QPoint(frameWidth(), frameWidth());
        emit listDoubleClicked(p.x(), p.y(), shiftOf(event));
    }
}

void ReportList::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint p = mapFromGlobal(event->globalPos()) - QPoint(frameWidth(), frameWidth());
    emit rightClicked(p.x(), p.y(), shiftState(event->modifiers()));
    event->accept();
}

void ReportList::keyPressEvent(QKeyEvent* event) {
    const KeyReport key = mapKeyEvent(*event);
    emit keyPressed(key.virtualKey, key.shiftState);
    QTableWidget::keyPressEvent(event);
}

void ReportList::focusInEvent(QFocusEvent* event) {
    showSelection(true);
    QTableWidget::focusInEvent(event);
}

void ReportList::focusOutEvent(QFocusEvent* event) {
    // A pop-up menu over the list (its own 子菜单) keeps the chosen row visible.
    if (event->reason() != Qt::PopupFocusReason) {
        showSelection(false);
    }
    QTableWidget::focusOutEvent(event);
}

void ReportList::showSelection(bool shown) {
    selectionShown_ = shown;
    QPalette p = palette();
    const QPalette standard = style()->standardPalette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Highlight,
                   shown ? standard.color(QPalette::Active, QPalette::Highlight)
                         : p.color(group, QPalette::Base));
        p.setColor(group, QPalette::HighlightedText,
                   shown ? standard.color(QPalette::Active, QPalette::HighlightedText)
                         : p.color(group, QPalette::Text));
    }
    setPalette(p);
}

ProgressBar::ProgressBar(BarStyle style, QWidget* parent) : QProgressBar(parent), style_(style) {
    setOrientation(Qt::Horizontal);
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
    // Blocks are separate chunks with gaps; the smooth bar is one continuous fill.
    const char* chunk = style == BarStyle::Blocks
                            ? "QProgressBar::chunk { background: rgb(6, 176, 37); width: 5px;"
                              " margin: 1px 1px 1px 0px; }"
                            : "QProgressBar::chunk { background: rgb(6, 176, 37); margin: 1px; }";
    setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid rgb(188, 188, 188);"
                                 " background: rgb(230, 230, 230); }") +
                  QString::fromLatin1(chunk));
}

EditBox::EditBox(QWidget* parent) : QLineEdit(parent) {}

void EditBox::keyPressEvent(QKeyEvent* event) {
    // Reported before the key edits the text, as a key-down comes before its character.
    const KeyReport key = mapKeyEvent(*event);
    emit keyPressed(key.virtualKey, key.shiftState);
    QLineEdit::keyPressEvent(event);
}

void installControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&controlAccessible);
        return true;
    }();
    (void)installed;
}

std::optional<ControlKind> kindOf(const QWidget* widget) {
    if (qobject_cast<const TransparentLabel*>(widget)) {
        return ControlKind::TransparentLabel;
    }
    if (qobject_cast<const Label*>(widget)) {
        return ControlKind::Label;
    }
    if (qobject_cast<const PictureBox*>(widget)) {
        return ControlKind::PictureBox;
    }
    if (qobject_cast<const ShapeBox*>(widget)) {
        return ControlKind::ShapeBox;
    }
    if (qobject_cast<const ImageButton*>(widget)) {
        return ControlKind::ImageButton;
    }
    if (qobject_cast<const QPushButton*>(widget)) {
        return ControlKind::Button;
    }
    if (qobject_cast<const ReportList*>(widget)) {
        return ControlKind::ReportList;
    }
    if (qobject_cast<const ProgressBar*>(widget)) {
        return ControlKind::ProgressBar;
    }
    if (qobject_cast<const QTextBrowser*>(widget)) {
        return ControlKind::HtmlView;
    }
    if (qobject_cast<const EditBox*>(widget)) {
        return ControlKind::EditBox;
    }
    return std::nullopt;
}

} // namespace vantorel::app
