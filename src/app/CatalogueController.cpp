#include "app/CatalogueController.h"

#include "app/DownloadTexts.h"
#include "app/Downloads.h"
#include "app/MainWindow.h"
#include "app/Messages.h"
#include "app/Pictures.h"
#include "app/Widgets.h"
#include "catalogue/AddressPolicy.h"
#include "catalogue/CatalogueSearch.h"
#include "catalogue/DisplayForms.h"
#include "catalogue/ResultColumns.h"
#include "common/Config.h"
#include "common/Version.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <span>

namespace vantorel::app {
namespace {

// "name：state" in the label's width, the name shortened as far as needed; the state stays whole.
QString withEntryName(const QLabel& label, const QString& name, const QString& state) {
    const QString rest = QStringLiteral("：") + state;
    const QFontMetrics metrics(label.font());
    const int room = std::max(0, label.contentsRect().width() - metrics.horizontalAdvance(rest));
    return metrics.elidedText(name, Qt::ElideRight, room) + rest;
}

} // namespace

CatalogueController::CatalogueController(MainWindow& window, Downloads& downloads)
    : confirmOverwrite([&window](const QString& file) { return confirmReplace(&window, file); }),
      window_(window), downloads_(downloads) {
    QObject::connect(&downloads_, &Downloads::refreshed, &window_, [this] { refreshDownload(); });
    QObject::connect(
        &downloads_, &Downloads::failed, &window_, [this](const download::QueueItem& item) {
            if (!item.errorDetail.empty())
                std::fprintf(stderr, "vantorel: %s%s (%s)\n", download::kFailedText.data(),
                             item.error.c_str(), item.errorDetail.c_str());
            tell(QMessageBox::Warning,
                 toQString(download::kFailedText) + QStringLiteral("\n") + toQString(item.error));
        });
    showQueueSummary();
}

void CatalogueController::showQueueSummary() {
    auto* label = window_.control<QLabel>("标签_进度");
    const QString text = toQString(queueSummaryText(downloads_.items()));
    label->setText(QFontMetrics(label->font())
                       .elidedText(text, Qt::ElideRight, label->contentsRect().width()));
    label->setToolTip(text.isEmpty() ? QString() : text + QStringLiteral("\n单击打开下载列表"));
}

CatalogueController::~CatalogueController() {
    workers_.stopAll();
}

void CatalogueController::tell(QMessageBox::Icon icon, const QString& text) {
    lastMessage_ = showMessage(&window_, icon, text);
}

void CatalogueController::tellFailure(const Error& error) {
    lastMessage_ = showFailure(&window_, error);
}

void CatalogueController::tellNoEntry() {
    QMessageBox* box = makeMessage(&window_, QMessageBox::Information, toQString(kNoEntryText));
    box->setWindowTitle(toQString(kConfirmationTitle));
    box->addButton(QMessageBox::Ok);
    box->open();
    lastMessage_ = box;
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
    workers_.run(
        [keyword = keyword.toStdString(), base = config::catalogueBase(),
         deadline = searchDeadline](std::stop_token stop) {
            return catalogue::search(keyword, base, deadline, std::move(stop));
        },
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
        tellFailure(found.error());
        return;
    }
    const bool stillShown = state_.takeResults(std::move(found.value()));
    fillList();
    count->setText(toQString(catalogue::foundCountText(state_.results().size())));
    window_.control("按钮_更多")->setEnabled(true);
    if (!stillShown)
        clearEntry();
}

void CatalogueController::fillList() {
    auto* list = window_.control<ReportList>("超级列表框_应用列表");
    list->clearRows();
    const std::vector<catalogue::CatalogueRecord>& results = state_.results();
    for (std::size_t i = 0; i < results.size(); ++i) {
        const int row = list->addRow();
        int column = 0;
        for (const catalogue::ResultColumn& spec : catalogue::kResultColumns)
            list->setCellText(row, column++, toQString(spec.cell(results[i], i)));
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
    const catalogue::CatalogueRecord* shown = state_.show(row);
    if (!shown)
        return;
    const catalogue::CatalogueRecord& entry = *shown;
    showLabels(entry);
    window_.control("按钮_更多")->setEnabled(true);
    window_.control("按钮_下载")->setEnabled(true);
    // The entry's own download, when the list has one; else the one shown so far says it is
    // another entry's while it runs, and gives way once it is over.
    if (const download::QueueItem* own = downloads_.findTarget(targetOf(entry))) {
        progressEntry_ = entry;
        progressId_ = own->id;
        showProgress(*own);
    } else if (const auto shown = shownDownload(); !shown || !shown->unfinished()) {
        clearProgress();
    } else {
        showProgress(*shown);
    }

    // The previous entry's logo must not stay beside this entry's name.
    window_.control<PictureBox>("图片框_图标")->setImage({});
    const unsigned generation = ++logoGeneration_;
    logoPending_ = true;
    // Fetched and decoded on the worker: the window only copies finished pixels.
    workers_.run(
        [base = config::logoBase(), logo = entry.logo48,
         deadline = logoDeadline](std::stop_token stop) {
            return catalogue::fetchLogo(base, logo, deadline, std::move(stop));
        },
        [this, generation](Result<picture::Image> logo) { logoDone(generation, std::move(logo)); });
}

void CatalogueController::showLabels(const catalogue::CatalogueRecord& entry) {
    window_.control<TransparentLabel>("标签_应用名")
        ->setCaption(toQString(catalogue::nameLabel(entry)));
    window_.control<TransparentLabel>("标签_版本")
        ->setCaption(toQString(catalogue::versionLabel(entry)));
    window_.control<TransparentLabel>("标签_大小")
        ->setCaption(toQString(catalogue::sizeLabel(entry)));
    window_.control<TransparentLabel>("标签_更新")
        ->setCaption(toQString(catalogue::dateLabel(entry)));
}

void CatalogueController::clearEntry() {
    state_.clearShown();
    ++logoGeneration_; // a logo still on its way belongs to no shown entry
    logoPending_ = false;
    for (std::string_view name : {"标签_应用名", "标签_版本", "标签_大小", "标签_更新"})
        window_.control<TransparentLabel>(name)->setCaption(toQString(window_.captionOf(name)));
    window_.control<PictureBox>("图片框_图标")->setImage({});
    window_.control("按钮_下载")->setEnabled(false);
}

void CatalogueController::logoDone(unsigned generation, Result<picture::Image> logo) {
    if (generation != logoGeneration_)
        return;
    logoPending_ = false;
    auto* box = window_.control<PictureBox>("图片框_图标");
    auto image = logo ? toQImage(*logo) : Result<QImage>(logo.error());
    if (!image) {
        // No logo is shown; why is of interest on the terminal only.
        std::fprintf(stderr, "vantorel: %s\n", messageWithDetail(image.error()).c_str());
        box->setImage({});
        return;
    }
    box->setImage(*image);
}

// The menu.

void CatalogueController::popUpMenu() {
    const QWidget* more = window_.control("按钮_更多");
    window_.popUpMenu(more->mapToGlobal(QPoint(0, more->height())));
}

void CatalogueController::showEntryMenu(int x, int y) {
    const int row = rowAt(x, y);
    if (!state_.hasRow(row))
        return;
    auto* list = window_.control<ReportList>("超级列表框_应用列表");
    list->selectRow(row);
    showEntry(row);
    window_.popUpMenu(
        list->mapToGlobal(QPoint(x, y) + QPoint(list->frameWidth(), list->frameWidth())));
}

const std::string* CatalogueController::address(int which) const {
    if (!state_.shown()) {
        return nullptr;
    }
    return which == 1 ? &state_.shown()->url : &state_.shown()->https;
}

void CatalogueController::openAddress(int which) {
    const std::string* target = address(which);
    if (!target) {
        tellNoEntry();
        return;
    }
    if (Status opened = shell.open(*target); !opened)
        tell(QMessageBox::Warning, toQString(opened.error().message));
}

void CatalogueController::confirmCopied(std::string_view title, std::string_view text) {
    QApplication::clipboard()->setText(toQString(text));
    const std::string_view shown = text.empty() ? kEmptyFieldText : text;
    lastMessage_ =
        showTimedMessage(&window_, toQString(title),
                         displayText(std::string(kCopiedPrefix) + "\r\n" + std::string(shown)));
}

void CatalogueController::copyAddress(int which) {
    const std::string* target = address(which);
    if (!target) {
        tellNoEntry();
        return;
    }
    confirmCopied(which == 1 ? kCopyLink1Title : kCopyLink2Title, *target);
}

void CatalogueController::copyDetails() {
    if (!state_.shown()) {
        tellNoEntry();
        return;
    }
    confirmCopied(kCopyDetailsTitle, catalogue::detailsText(*state_.shown()));
}

// Download.

std::string CatalogueController::targetOf(const catalogue::CatalogueRecord& entry) const {
    const QString file =
        QDir(downloads_.folder()).filePath(toQString(catalogue::downloadFileName(entry)));
    return QDir::toNativeSeparators(file).toStdString();
}

void CatalogueController::download() {
    if (!state_.shown()) {
        tellNoEntry();
        return;
    }
    const QString folder = downloads_.folder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        tell(QMessageBox::Warning, QStringLiteral("无法使用下载文件夹：") + folder);
        return;
    }
    const std::string target = targetOf(*state_.shown());
    if (QFileInfo(QString::fromStdString(target)).exists() &&
        !confirmOverwrite(QString::fromStdString(target)))
        return;

    auto [addresses, labels] = catalogue::labelledDownloadAddresses(*state_.shown());
    if (addresses.empty()) {
        tell(QMessageBox::Warning, toQString(kNoDownloadAddressText));
        return;
    }
    const std::uint64_t id = downloads_.add({state_.shown()->displayname, std::move(addresses),
                                             target, std::move(labels), state_.shown()->hash});
    progressEntry_ = state_.shown();
    progressId_ = id;
    refreshDownload();
}

std::optional<download::QueueItem> CatalogueController::shownDownload() const {
    if (!progressEntry_)
        return std::nullopt;
    if (const download::QueueItem* item = downloads_.find(progressId_))
        return *item;
    return std::nullopt;
}

void CatalogueController::showProgress(const download::QueueItem& item) {
    if (!progressEntry_)
        return; // cleared for another entry; the download's state is no longer shown
    auto* bar = window_.control<QProgressBar>("进度条_下载");
    auto* label = window_.control<QLabel>("标签_进度");
    bar->setValue(item.percent);
    const QString whole = toQString(progressLabelText(item));
    const bool fits =
        QFontMetrics(label->font()).horizontalAdvance(whole) <= label->contentsRect().width();
    const QString state = fits ? whole : toQString(progressLabelText(item, true));
    QString name = toQString(progressEntry_->displayname);
    name.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QChar('\n'), QChar(' '));
    const bool forShownEntry = state_.shown() && *state_.shown() == *progressEntry_;
    label->setText(forShownEntry ? state : withEntryName(*label, name, state));
    const QString tip =
        QStringLiteral("下载：") + name + (fits ? QString() : QStringLiteral("\n") + whole);
    bar->setToolTip(tip);
    QString details = tip;
    if (const std::string speed = speedText(item); !speed.empty())
        details += QStringLiteral("\n速度：") + toQString(speed);
    if (const std::string left = timeLeftText(item); !left.empty())
        details += QStringLiteral("\n剩余时间：") + toQString(left);
    label->setToolTip(details + QStringLiteral("\n单击打开下载列表"));
}

void CatalogueController::clearProgress() {
    progressEntry_.reset();
    auto* bar = window_.control<QProgressBar>("进度条_下载");
    bar->setValue(0);
    bar->setToolTip({});
    showQueueSummary();
}

void CatalogueController::refreshDownload() {
    if (!progressEntry_)
        return showQueueSummary();
    if (const auto item = shownDownload())
        showProgress(*item);
    else
        clearProgress(); // taken off the list
}

} // namespace vantorel::app
