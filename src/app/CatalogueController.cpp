#include "app/CatalogueController.h"

#include "app/MainWindow.h"
#include "app/Messages.h"
#include "app/Widgets.h"
#include "catalogue/AddressPolicy.h"
#include "catalogue/CatalogueSearch.h"
#include "catalogue/DisplayForms.h"
#include "common/Config.h"
#include "common/Version.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <span>

namespace vantorel::app {
namespace {

constexpr int kRefreshMs = 200;
constexpr std::string_view kNoEntryText = "请先双击列表中的软件";

// What 标签_进度 shows: the percent (or bytes while the total is unknown), "正在解析、" while a
// share link is resolved, and the outcome at the end.
std::string progressText(const download::JobView& view) {
    using download::JobPhase;
    switch (view.phase) {
    case JobPhase::Resolving:
        // A plain address needs no resolving; its download is about to start.
        return view.resolvingShareLink ? std::string(download::kResolvingText) : "0%";
    case JobPhase::Downloading:
        return view.progressText;
    case JobPhase::Done:
        return std::string(download::kDoneText);
    case JobPhase::Failed:
    case JobPhase::AddressError:
        return std::string(download::kFailedText);
    case JobPhase::Idle:
    case JobPhase::Cancelled:
    case JobPhase::Interrupted:
        break;
    }
    return {};
}

} // namespace

CatalogueController::CatalogueController(MainWindow& window)
    : confirmOverwrite([&window](const QString& file) {
          const auto answer = QMessageBox::question(&window, toQString(kAppTitle),
                                                    QStringLiteral("文件已存在：\n") + file +
                                                        QStringLiteral("\n是否覆盖？"));
          return answer == QMessageBox::Yes;
      }),
      window_(window) {
    progressTimer_.setInterval(kRefreshMs);
    QObject::connect(&progressTimer_, &QTimer::timeout, &window_, [this] { refreshDownload(); });
}

CatalogueController::~CatalogueController() {
    progressTimer_.stop();
    workers_.waitAll();
}

void CatalogueController::tell(QMessageBox::Icon icon, const QString& text) {
    lastMessage_ = showMessage(&window_, icon, text);
}

// Search.

void CatalogueController::search() {
    if (searching_)
        return;
    const QString keyword = window_.control<QLineEdit>("编辑框_搜索框")->text().trimmed();
    if (keyword.isEmpty()) {
        tell(QMessageBox::Information, toQString(catalogue::kEmptyKeywordMessage));
        return;
    }
    searching_ = true;
    window_.control("按钮_搜索")->setEnabled(false);
    QLabel* count = window_.control<QLabel>("标签_匹配数量");
    countTextBeforeSearch_ = count->text();
    count->setText(toQString(kSearchingText));
    workers_.run([keyword = keyword.toStdString(),
                  base = config::catalogueBase()] { return catalogue::search(keyword, base); },
                 [this](Result<std::vector<catalogue::CatalogueRecord>> found) {
                     searchDone(std::move(found));
                 });
}

void CatalogueController::searchDone(Result<std::vector<catalogue::CatalogueRecord>> found) {
    searching_ = false;
    window_.control("按钮_搜索")->setEnabled(true);
    QLabel* count = window_.control<QLabel>("标签_匹配数量");
    if (!found) {
        count->setText(countTextBeforeSearch_);
        tell(QMessageBox::Warning, toQString(found.error().message));
        return;
    }
    results_ = std::move(found.value());
    fillList();
    count->setText(toQString(catalogue::foundCountText(results_.size())));
}

void CatalogueController::fillList() {
    auto* list = window_.control<ReportList>("超级列表框_应用列表");
    list->clearRows();
    for (std::size_t i = 0; i < results_.size(); ++i) {
        const catalogue::CatalogueRecord& r = results_[i];
        const int row = list->addRow();
        const std::string cells[] = {std::to_string(i + 1),
                                     r.displayname,
                                     r.filename,
                                     catalogue::sizeDisplay(r.filesize),
                                     r.hash,
                                     r.url,
                                     r.publishdate,
                                     r.versionname,
                                     r.https,
                                     r.logo48};
        for (int column = 0; column < static_cast<int>(std::size(cells)); ++column)
            list->setCellText(row, column, toQString(cells[column]));
    }
}

// Details.

int CatalogueController::rowAt(int x, int y) const {
    const auto* list = window_.control<ReportList>("超级列表框_应用列表");
    const QPoint inList = QPoint(x, y) + QPoint(list->frameWidth(), list->frameWidth());
    const QPoint inRows = list->viewport()->mapFrom(list, inList);
    if (!list->viewport()->rect().contains(inRows))
        return -1;
    return list->rowAt(inRows.y());
}

int CatalogueController::selectedRow() const {
    return window_.control<ReportList>("超级列表框_应用列表")->currentRowNumber();
}

void CatalogueController::showEntry(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= results_.size())
        return;
    shown_ = results_[static_cast<std::size_t>(row)];
    const catalogue::CatalogueRecord& entry = *shown_;
    window_.control<QLabel>("标签_应用名")->setText(toQString(catalogue::nameLabel(entry)));
    window_.control<QLabel>("标签_版本")->setText(toQString(catalogue::versionLabel(entry)));
    window_.control<QLabel>("标签_大小")->setText(toQString(catalogue::sizeLabel(entry)));
    window_.control<QLabel>("标签_更新")->setText(toQString(catalogue::dateLabel(entry)));
    window_.control("按钮_更多")->setEnabled(true);
    window_.control("按钮_下载")->setEnabled(!download_ || download_->view().finished());

    // The previous entry's logo must not stay beside this entry's name.
    window_.control<PictureBox>("图片框_图标")->setImage({});
    const unsigned generation = ++logoGeneration_;
    logoPending_ = true;
    workers_.run(
        [base = config::logoBase(), logo = entry.logo48] {
            return catalogue::fetchLogo(base, logo);
        },
        [this, generation](Result<std::string> logo) { logoDone(generation, std::move(logo)); });
}

void CatalogueController::logoDone(unsigned generation, Result<std::string> logo) {
    if (generation != logoGeneration_)
        return;
    logoPending_ = false;
    auto* box = window_.control<PictureBox>("图片框_图标");
    if (!logo) {
        box->setImage({});
        return;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(logo->data());
    if (!box->setPicture(std::span(bytes, logo->size())))
        box->setImage({});
}

// The menu.

void CatalogueController::popUpMenu() {
    const QWidget* more = window_.control("按钮_更多");
    window_.popUpMenu(more->mapToGlobal(QPoint(0, more->height())));
}

const std::string* CatalogueController::address(int which) const {
    if (!shown_) {
        return nullptr;
    }
    return which == 1 ? &shown_->url : &shown_->https;
}

void CatalogueController::openAddress(int which) {
    const std::string* target = address(which);
    if (!target) {
        tell(QMessageBox::Information, toQString(kNoEntryText));
        return;
    }
    if (Status opened = shell.open(*target); !opened)
        tell(QMessageBox::Warning, toQString(opened.error().message));
}

void CatalogueController::confirmCopied(std::string_view text) {
    QApplication::clipboard()->setText(toQString(text));
    lastMessage_ =
        showTimedMessage(&window_, toQString(kConfirmationTitle),
                         displayText(std::string(kCopiedPrefix) + "\r\n" + std::string(text)));
}

void CatalogueController::copyAddress(int which) {
    const std::string* target = address(which);
    if (!target) {
        tell(QMessageBox::Information, toQString(kNoEntryText));
        return;
    }
    confirmCopied(*target);
}

void CatalogueController::copyDetails() {
    if (!shown_) {
        tell(QMessageBox::Information, toQString(kNoEntryText));
        return;
    }
    confirmCopied(catalogue::detailsText(*shown_));
}

// Download.

QString CatalogueController::desktopFolder() {
    const std::string configured = config::desktopDir();
    if (!configured.empty())
        return QString::fromStdString(configured);
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void CatalogueController::download() {
    if (!shown_) {
        tell(QMessageBox::Information, toQString(kNoEntryText));
        return;
    }
    if (download_ && !download_->view().finished()) {
        tell(QMessageBox::Information, toQString(kDownloadRunningText));
        return;
    }
    const QString folder = desktopFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        tell(QMessageBox::Warning, QStringLiteral("无法使用桌面文件夹：") + folder);
        return;
    }
    const QString target = QDir(folder).filePath(toQString(catalogue::downloadFileName(*shown_)));
    if (QFileInfo(target).exists() && !confirmOverwrite(target))
        return;

    const std::vector<std::string> addresses = catalogue::downloadAddresses(*shown_);
    if (addresses.empty()) {
        tell(QMessageBox::Warning, toQString(kNoDownloadAddressText));
        return;
    }
    download_.reset(); // a finished one; its thread has ended
    download::JobOptions options;
    options.refuseWebPages = true;
    download_ = std::make_unique<download::DownloadJob>(
        addresses, QDir::toNativeSeparators(target).toStdString(), options);
    download_->start();
    window_.control("按钮_下载")->setEnabled(false);
    refreshDownload();
    progressTimer_.start();
}

void CatalogueController::refreshDownload() {
    if (!download_)
        return;
    const download::JobView view = download_->view();
    window_.control<QProgressBar>("进度条_下载")->setValue(view.percent);
    window_.control<QLabel>("标签_进度")->setText(toQString(progressText(view)));
    if (!view.finished())
        return;
    progressTimer_.stop();
    window_.control("按钮_下载")->setEnabled(shown_.has_value());
    if (view.phase == download::JobPhase::Failed || view.phase == download::JobPhase::AddressError)
        tell(QMessageBox::Warning,
             toQString(download::kFailedText) + QStringLiteral("\n") + toQString(view.error));
}

} // namespace vantorel::app
