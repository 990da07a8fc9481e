#include "app/SettingsWindow.h"

#include "app/Downloads.h"
#include "app/Fonts.h"
#include "app/Messages.h"
#include "settings/DownloadFolder.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace vantorel::app {
namespace {

template <class T> T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromUtf8(name));
    return widget;
}

QSpinBox* countBox(const char* name, unsigned most) {
    auto* box = named(new QSpinBox, name);
    box->setRange(1, static_cast<int>(most));
    box->setMaximumWidth(100); // two digits need no more
    return box;
}

// The captions of both boxes in one column, as wide as the widest.
void alignCaptions(std::initializer_list<QFormLayout*> forms) {
    int widest = 0;
    std::vector<QWidget*> captions;
    for (QFormLayout* form : forms) {
        for (int row = 0; row < form->rowCount(); ++row) {
            if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole)) {
                captions.push_back(item->widget());
                widest = std::max(widest, item->widget()->sizeHint().width());
            }
        }
    }
    for (QWidget* caption : captions)
        caption->setMinimumWidth(widest);
}

} // namespace

SettingsWindow::SettingsWindow(std::function<void(const settings::Preferences&)> apply,
                               QWidget* parent)
    : QDialog(parent), apply_(std::move(apply)), folder_(named(new QLineEdit, "编辑框_下载文件夹")),
      atOnce_(countBox("数值框_同时下载数", settings::kMaxDownloadsAtOnce)),
      connections_(countBox("数值框_连接数", download::kMaxWorkers)),
      speedLimit_(named(new QLineEdit, "编辑框_限速")), proxy_(named(new QLineEdit, "编辑框_代理")),
      proxyUser_(named(new QLineEdit, "编辑框_代理用户名")),
      proxyPassword_(named(new QLineEdit, "编辑框_代理密码")) {
    setObjectName(QStringLiteral("窗口_设置"));
    setWindowTitle(QStringLiteral("设置"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/icon.ico")));
    setFont(defaultGuiFont());
    setAttribute(Qt::WA_QuitOnClose, false);

    folder_->setPlaceholderText(QStringLiteral("留空则保存到桌面"));
    speedLimit_->setPlaceholderText(QStringLiteral("如 100k、100 KB/s、1.5M；留空不限速"));
    proxy_->setPlaceholderText(QStringLiteral("如 socks5h://127.0.0.1:1080；留空用系统设置"));
    proxyPassword_->setEchoMode(QLineEdit::Password);
    connect(proxy_, &QLineEdit::editingFinished, this, [this] { takeProxyCredentials(); });

    auto* browse = named(new QPushButton(QStringLiteral("浏览…")), "按钮_浏览");
    connect(browse, &QPushButton::clicked, this, [this] { this->browse(); });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse);
    // The form's label names the row, not the edit box inside it.
    folder_->setAccessibleName(QStringLiteral("下载文件夹"));

    auto* downloads = new QGroupBox(QStringLiteral("下载"));
    auto* downloadForm = new QFormLayout(downloads);
    downloadForm->addRow(QStringLiteral("下载文件夹："), folderRow);
    downloadForm->addRow(QStringLiteral("同时下载数："), atOnce_);
    downloadForm->addRow(QStringLiteral("每个下载的连接数："), connections_);
    downloadForm->addRow(QStringLiteral("限速（每秒）："), speedLimit_);

    auto* proxy = new QGroupBox(QStringLiteral("代理"));
    auto* proxyForm = new QFormLayout(proxy);
    proxyForm->addRow(QStringLiteral("代理地址："), proxy_);
    proxyForm->addRow(QStringLiteral("用户名："), proxyUser_);
    proxyForm->addRow(QStringLiteral("密码："), proxyPassword_);

    alignCaptions({downloadForm, proxyForm});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("按钮_确定"));
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setText(QStringLiteral("取消"));
    cancel->setObjectName(QStringLiteral("按钮_取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(downloads);
    layout->addWidget(proxy);
    layout->addWidget(buttons);
    setMinimumWidth(460);
    load({});
    confirmCreateFolder = [this](const QString& folder) {
        return askYesNo(this, QStringLiteral("下载文件夹不存在：\n") + folder +
                                  QStringLiteral("\n是否创建？"));
    };
}

void SettingsWindow::load(const settings::Preferences& preferences) {
    folder_->setText(toQString(preferences.downloadFolder));
    atOnce_->setValue(static_cast<int>(preferences.downloadsAtOnce));
    connections_->setValue(static_cast<int>(preferences.connections));
    speedLimit_->setText(preferences.speedLimit == 0
                             ? QString()
                             : toQString(settings::formatRate(preferences.speedLimit)));
    proxy_->setText(toQString(preferences.proxy));
    proxyUser_->setText(toQString(preferences.proxyUser));
    proxyPassword_->setText(toQString(preferences.proxyPassword));
}

Result<settings::Preferences> SettingsWindow::read() const {
    settings::Preferences preferences;
    // Blanks around a path, an address or a name are slips of typing; a password is as typed.
    preferences.downloadFolder = folder_->text().trimmed().toStdString();
    preferences.downloadsAtOnce = static_cast<unsigned>(atOnce_->value());
    preferences.connections = static_cast<unsigned>(connections_->value());
    const auto rate = settings::parseRate(speedLimit_->text().toStdString());
    if (!rate)
        return rate.error();
    preferences.speedLimit = *rate;
    preferences.proxy = proxy_->text().trimmed().toStdString();
    preferences.proxyUser = proxyUser_->text().trimmed().toStdString();
    preferences.proxyPassword = proxyPassword_->text().toStdString();
    return preferences;
}

void SettingsWindow::takeProxyCredentials() {
    const auto fields = settings::splitProxyCredentials(proxy_->text().trimmed().toStdString());
    if (!fields)
        return;
    proxy_->setText(toQString(fields->address));
    proxyUser_->setText(toQString(fields->user));
    proxyPassword_->setText(toQString(fields->password));
}

void SettingsWindow::accept() {
    takeProxyCredentials();
    auto preferences = read();
    Status saved =
        preferences ? folderReady(preferences->downloadFolder) : Status(preferences.error());
    if (saved)
        saved = settings::savePreferences(*preferences);
    if (!saved) {
        lastMessage_ = showFailure(this, saved.error());
        return;
    }
    apply_(*preferences);
    QDialog::accept();
}

Status SettingsWindow::folderReady(const std::string& folder) {
    // Empty is the desktop; a relative path is refused by the preferences themselves.
    if (folder.empty() || !QDir::isAbsolutePath(toQString(folder)))
        return {};
    settings::FolderCheck check = settings::checkDownloadFolder(folder);
    if (check.state != settings::FolderState::Missing)
        return check.state == settings::FolderState::Usable ? Status() : Status(check.error);
    if (!confirmCreateFolder(toQString(folder)))
        return check.error;
    return settings::createDownloadFolder(folder);
}

void SettingsWindow::browse() {
    const QString start = folder_->text().trimmed().isEmpty() ? Downloads::desktopFolder()
                                                              : folder_->text().trimmed();
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("选择下载文件夹"), start);
    if (!chosen.isEmpty())
        folder_->setText(chosen);
}

} // namespace vantorel::app
