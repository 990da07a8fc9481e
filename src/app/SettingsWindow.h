#pragma once
// The settings window (窗口_设置): the preferences of settings/Preferences.h as fields -- download
// folder (with 浏览…; empty: the desktop), downloads at once and connections per download (1-16),
// speed limit as typed ("2M", "512k"; 0 or empty: none), proxy address, user and password.
//
// 确定 checks the fields, saves them in the settings file and puts them into effect (`apply`),
// then closes; a value that cannot be kept is told in a message naming it, nothing is saved and
// the window stays open with what was typed. 取消 (or Esc) closes without saving.

#include "common/Result.h"
#include "settings/Preferences.h"

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSpinBox>
#include <functional>

namespace vantorel::app {

class SettingsWindow : public QDialog {
    Q_OBJECT
  public:
    explicit SettingsWindow(std::function<void(const settings::Preferences&)> apply,
                            QWidget* parent = nullptr);

    // Fills the fields.
    void load(const settings::Preferences& preferences);
    // The fields as preferences; a speed limit that is no rate is refused with a message.
    Result<settings::Preferences> read() const;

    // 确定.
    void accept() override;

    // The last message shown, while it is open.
    QMessageBox* lastMessage() const { return lastMessage_; }

  private:
    void browse();

    std::function<void(const settings::Preferences&)> apply_;
    QLineEdit* folder_;
    QSpinBox* atOnce_;
    QSpinBox* connections_;
    QLineEdit* speedLimit_;
    QLineEdit* proxy_;
    QLineEdit* proxyUser_;
    QLineEdit* proxyPassword_;
    QPointer<QMessageBox> lastMessage_;
};

} // namespace vantorel::app
