#include "app/DownloadListWindow.h"

#include "app/DownloadTexts.h"
#include "app/Downloads.h"
#include "app/Fonts.h"
#include "app/Messages.h"
#include "common/ByteSize.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <array>

namespace vantorel::app {
namespace {

using download::QueueItem;
using download::QueueState;

constexpr int kPercentRole = Qt::UserRole;
constexpr int kCaptionRoom = 24;
constexpr int kIdRole = Qt::UserRole;

// The progress column: a bar filled to the row's percent, with its text on it.
class ProgressDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        cell.text.clear();
        QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

        QStyleOptionProgressBar bar;
        bar.initFrom(cell.widget);
        bar.rect = option.rect.adjusted(3, 3, -3, -3);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = index.data(kPercentRole).toInt();
        bar.text = index.data(Qt::DisplayRole).toString();
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        bar.state |= QStyle::State_Horizontal;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, cell.widget);
    }
};

struct ColumnLook {
    const char* title;
    int width; // 0: takes the room left
};

constexpr std::array<ColumnLook, DownloadListWindow::ColumnCount> kColumns{{
    {"名称", 0},
    {"大小", 80},
    {"进度", 150},
    {"速度", 90},
    {"剩余时间", 80},
    {"状态", 80},
}};

// The bar's text: the percent while the total is known, else the bytes so far, if any.
QString barText(const QueueItem& item) {
    if (item.totalKnown || item.state == QueueState::Done)
        return QString::number(item.percent) + QLatin1Char('%');
    if (item.bytes == 0)
        return {};
    return toQString(formatBytes(static_cast<double>(item.bytes), ByteStyle::MebibytesLabel));
}

QString stateTip(const QueueItem& item) {
    if (item.state == QueueState::Retrying)
        return toQString(item.progressText);
    if (item.limited)
        return QStringLiteral("已达到限速：所有下载合计不超过设置的速度");
    return toQString(item.error);
}

QString folderOf(const QueueItem& item) {
    return QFileInfo(QString::fromStdString(item.entry.target)).absolutePath();
}

bool fileReady(const QueueItem& item) {
    return item.state == QueueState::Done &&
           QFileInfo(QString::fromStdString(item.entry.target)).isFile();
}

QPushButton* addButton(QHBoxLayout* row, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption));
    button->setObjectName(QString::fromUtf8(name));
    row->addWidget(button);
    return button;
}

} // namespace

DownloadListWindow::DownloadListWindow(Downloads& downloads, QWidget* parent)
    : QWidget(parent, Qt::Window), downloads_(downloads),
      table_(new QTableWidget(0, ColumnCount, this)), summary_(new QLabel(this)),
      rowMenu_(new QMenu(this)) {
    askAboutOtherFile = [this](const QString& target) {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        QStringLiteral("保存位置已有另一个文件，不是这个下载保存的：\n") + target,
                        QMessageBox::NoButton, this);
        QPushButton* replace = box.addButton(QStringLiteral("覆盖"), QMessageBox::AcceptRole);
        QPushButton* saveAs = box.addButton(QStringLiteral("另存为"), QMessageBox::ActionRole);
        box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(saveAs);
        box.setInformativeText(
            QStringLiteral("覆盖：用下载的文件替换它；另存为：下载保存为旁边的新名字。"));
        box.exec();
        if (box.clickedButton() == replace)
            return OtherFileChoice::Replace;
        if (box.clickedButton() == saveAs)
            return OtherFileChoice::SaveAs;
        return OtherFileChoice::Leave;
    };
    askAddress = [this](const QString& current) -> std::optional<QString> {
        QInputDialog dialog(this);
        dialog.setWindowTitle(QStringLiteral("更换下载地址"));
        dialog.setLabelText(QStringLiteral("下载地址："));
        dialog.setTextValue(current);
        // Wide enough that an address is seen whole, not only its tail.
        dialog.resize(560, dialog.sizeHint().height());
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.textValue().trimmed();
    };
    askStartOver = [this](const QString& why) {
        return QMessageBox::question(this, QStringLiteral("更换下载地址"),
                                     why + QStringLiteral("\n是否删除已下载的部分，从头重新下载？"),
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    setObjectName(QStringLiteral("窗口_下载列表"));
    setWindowTitle(QStringLiteral("下载列表"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/icon.ico")));
    setFont(defaultGuiFont());
    // The program ends with its main window, whatever this one does.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(760, 360);
    // Room for every column's title and every button's caption.
    setMinimumSize(700, 220);

    table_->setObjectName(QStringLiteral("列表_下载"));
    table_->setAccessibleName(QStringLiteral("下载列表"));
    QStringList titles;
    for (const ColumnLook& column : kColumns)
        titles << QString::fromUtf8(column.title);
    table_->setHorizontalHeaderLabels(titles);
    QHeaderView* header = table_->horizontalHeader();
    header->setHighlightSections(false);
    for (int i = 0; i < ColumnCount; ++i) {
        if (kColumns[static_cast<std::size_t>(i)].width == 0) {
            header->setSectionResizeMode(i, QHeaderView::Stretch);
        } else {
            header->setSectionResizeMode(i, QHeaderView::Interactive);
            header->resizeSection(i, kColumns[static_cast<std::size_t>(i)].width);
        }
    }
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setItemDelegateForColumn(Progress, new ProgressDelegate(table_));
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the table for the buttons instead of walking its cells.
    table_->setTabKeyNavigation(false);
    table_->installEventFilter(this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(summary_);
    summary_->setObjectName(QStringLiteral("标签_下载统计"));
    buttons->addStretch();
    pause_ = addButton(buttons, "按钮_暂停", "暂停");
    cancel_ = addButton(buttons, "按钮_取消下载", "取消");
    openFile_ = addButton(buttons, "按钮_打开文件", "打开文件");
    openFolder_ = addButton(buttons, "按钮_打开文件夹", "打开所在文件夹");
    remove_ = addButton(buttons, "按钮_从列表中删除", "从列表中删除");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    // Fusion lays a caption out in less room than a button's size hint leaves for it.
    for (QPushButton* button : {pause_, cancel_, openFile_, openFolder_, remove_})
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) +
                                kCaptionRoom);

    rowMenu_->setObjectName(QStringLiteral("菜单_下载"));
    pauseEntry_ = rowMenu_->addAction(QStringLiteral("暂停"), this, [this] { togglePause(); });
    cancelEntry_ = rowMenu_->addAction(QStringLiteral("取消"), this, [this] { cancel(); });
    replaceEntry_ =
        rowMenu_->addAction(QStringLiteral("更换下载地址…"), this, [this] { replaceAddress(); });
    rowMenu_->addSeparator();
    openFileEntry_ = rowMenu_->addAction(QStringLiteral("打开文件"), this, [this] { openFile(); });
    openFolderEntry_ =
        rowMenu_->addAction(QStringLiteral("打开所在文件夹"), this, [this] { openFolder(); });
    rowMenu_->addSeparator();
    removeEntry_ =
        rowMenu_->addAction(QStringLiteral("从列表中删除"), this, [this] { removeSelected(); });

    connect(pause_, &QPushButton::clicked, this, [this] { togglePause(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(openFile_, &QPushButton::clicked, this, [this] { openFile(); });
    connect(openFolder_, &QPushButton::clicked, this, [this] { openFolder(); });
    connect(remove_, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { updateActions(); });
    connect(table_, &QTableWidget::customContextMenuRequested, this,
            [this](QPoint at) { showRowMenu(at); });
    connect(&downloads_, &Downloads::newAddressDiffers, this,
            [this](const QueueItem& item) { newAddressDiffers(item); });
    connect(&downloads_, &Downloads::refreshed, this, [this] {
        if (isVisible())
            fill();
    });
    fill();
}

std::optional<std::uint64_t> DownloadListWindow::selectedId() const {
    const QModelIndexList rows = table_->selectionModel()->selectedRows(Name);
    if (rows.isEmpty())
        return std::nullopt;
    return rows.front().data(kIdRole).toULongLong();
}

void DownloadListWindow::select(std::uint64_t id) {
    for (int row = 0; row < table_->rowCount(); ++row) {
        if (table_->item(row, Name)->data(kIdRole).toULongLong() == id) {
            table_->setCurrentCell(row, Name);
            table_->selectRow(row);
            return;
        }
    }
    table_->clearSelection();
}

void DownloadListWindow::fill() {
    const std::optional<std::uint64_t> selected = selectedId();
    const std::vector<QueueItem>& items = downloads_.items();
    table_->setRowCount(static_cast<int>(items.size()));
    int running = 0;
    for (int row = 0; row < table_->rowCount(); ++row) {
        const QueueItem& item = items[static_cast<std::size_t>(row)];
        running += item.unfinished() ? 1 : 0;
        const std::array<QString, ColumnCount> texts{
            toQString(item.entry.name),
            toQString(sizeText(item)),
            barText(item),
            toQString(speedText(item)),
            toQString(timeLeftText(item)),
            toQString(download::queueStatusText(item)),
        };
        for (int column = 0; column < ColumnCount; ++column) {
            QTableWidgetItem* cell = table_->item(row, column);
            if (!cell) {
                cell = new QTableWidgetItem;
                cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
                table_->setItem(row, column, cell);
            }
            if (cell->text() != texts[static_cast<std::size_t>(column)])
                cell->setText(texts[static_cast<std::size_t>(column)]);
        }
        QTableWidgetItem* name = table_->item(row, Name);
        name->setData(kIdRole, QVariant::fromValue<qulonglong>(item.id));
        std::string tip = item.entry.target;
        for (const std::string& notice : item.notices)
            tip += "\n" + notice;
        name->setToolTip(toQString(tip));
        table_->item(row, Progress)->setData(kPercentRole, item.percent);
        table_->item(row, State)->setToolTip(stateTip(item));
    }
    if (selected)
        select(*selected);
    summary_->setText(QStringLiteral("共 %1 个下载，%2 个进行中").arg(items.size()).arg(running));
    updateActions();
}

void DownloadListWindow::updateActions() {
    const std::optional<std::uint64_t> id = selectedId();
    const QueueItem* item = id ? downloads_.find(*id) : nullptr;
    const bool resumes = item && !item->unfinished();
    const QString pauseText = resumes ? QStringLiteral("继续") : QStringLiteral("暂停");
    const bool canPause = item && item->state != QueueState::Done;
    const bool canCancel = canPause && item->state != QueueState::Cancelled;
    const bool canOpenFile = item && fileReady(*item);
    const bool canOpenFolder = item && QFileInfo(folderOf(*item)).isDir();
    replaceEntry_->setEnabled(item && !item->unfinished() && item->state != QueueState::Done);
    pause_->setText(pauseText);
    pauseEntry_->setText(pauseText);
    for (auto [button, entry, enabled] :
         {std::tuple{pause_, pauseEntry_, canPause}, std::tuple{cancel_, cancelEntry_, canCancel},
          std::tuple{openFile_, openFileEntry_, canOpenFile},
          std::tuple{openFolder_, openFolderEntry_, canOpenFolder},
          std::tuple{remove_, removeEntry_, item != nullptr}}) {
        button->setEnabled(enabled);
        entry->setEnabled(enabled);
    }
}

void DownloadListWindow::showRowMenu(QPoint position) {
    const int row = table_->rowAt(position.y());
    if (row < 0)
        return;
    table_->selectRow(row);
    updateActions();
    rowMenu_->popup(table_->viewport()->mapToGlobal(position));
}

void DownloadListWindow::tell(const QString& text) {
    showMessage(this, QMessageBox::Warning, text);
}

void DownloadListWindow::togglePause() {
    const auto id = selectedId();
    if (!id)
        return;
    Status done = downloads_.togglePause(*id);
    if (!done && done.error().kind == FailureKind::ForeignTarget) {
        const QueueItem* item = downloads_.find(*id);
        if (!item)
            return;
        switch (askAboutOtherFile(QString::fromStdString(item->entry.target))) {
        case OtherFileChoice::Replace:
            done = downloads_.resume(*id, download::OtherFile::Replace);
            break;
        case OtherFileChoice::SaveAs:
            done = downloads_.resumeUnderFreeName(*id);
            break;
        case OtherFileChoice::Leave:
            return;
        }
    }
    if (!done)
        tell(toQString(done.error().message));
}

void DownloadListWindow::cancel() {
    if (const auto id = selectedId())
        downloads_.cancel(*id);
}

void DownloadListWindow::replaceAddress() {
    const auto id = selectedId();
    const QueueItem* item = id ? downloads_.find(*id) : nullptr;
    if (!item)
        return;
    const QString current =
        item->entry.addresses.empty() ? QString() : toQString(item->entry.addresses.front());
    const std::optional<QString> address = askAddress(current);
    if (!address)
        return;
    const std::string wanted = address->toStdString();
    Status done = download::checkDownloadAddress(wanted);
    if (done)
        done = downloads_.replaceAddress(*id, wanted);
    if (!done)
        tell(toQString(done.error().message));
}

void DownloadListWindow::newAddressDiffers(const QueueItem& item) {
    const bool startOver = askStartOver(toQString(item.error));
    if (Status done =
            startOver ? downloads_.startOver(item.id) : downloads_.keepFormerAddress(item.id);
        !done)
        tell(toQString(done.error().message));
}

void DownloadListWindow::openFile() {
    const auto id = selectedId();
    const QueueItem* item = id ? downloads_.find(*id) : nullptr;
    if (!item || item->state != QueueState::Done)
        return;
    if (Status opened = shell.openFile(item->entry.target); !opened)
        tell(toQString(opened.error().message));
}

void DownloadListWindow::openFolder() {
    const auto id = selectedId();
    const QueueItem* item = id ? downloads_.find(*id) : nullptr;
    if (!item)
        return;
    if (Status opened = shell.openFolder(folderOf(*item).toStdString()); !opened)
        tell(toQString(opened.error().message));
}

void DownloadListWindow::removeSelected() {
    if (const auto id = selectedId())
        downloads_.remove(*id);
}

void DownloadListWindow::showEvent(QShowEvent* event) {
    fill();
    QWidget::showEvent(event);
    table_->setFocus();
}

// Esc reaches here from whichever control has the focus: none of them takes it.
void DownloadListWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool DownloadListWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space) {
            togglePause();
            return true;
        }
        if (key == Qt::Key_Delete) {
            removeSelected();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openFile();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantorel::app
