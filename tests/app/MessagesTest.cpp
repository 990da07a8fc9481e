// Message boxes speak Chinese throughout, standard buttons included, and appear over the window
// on screen when the window they belong to is hidden.

#include "app/Messages.h"

#include <QAbstractButton>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vantorel::app;

TEST(Messages, StandardButtonsAreChineseAndAHiddenOwnerLendsItsPlaceToTheVisibleWindow) {
    QWidget shown;
    shown.show();
    QWidget hidden;
    QMessageBox* box = makeMessage(&hidden, QMessageBox::Question, QStringLiteral("要继续吗？"));
    box->setStandardButtons(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No |
                            QMessageBox::Cancel);
    auto label = [&](QMessageBox::StandardButton which) {
        return box->button(which)->text().remove(QLatin1Char('&')).toStdString();
    };
    EXPECT_EQ(label(QMessageBox::Ok), "确定");
    EXPECT_EQ(label(QMessageBox::Yes), "是(Y)");
    EXPECT_EQ(label(QMessageBox::No), "否(N)");
    EXPECT_EQ(label(QMessageBox::Cancel), "取消");
    EXPECT_EQ(box->parentWidget(), &shown);
    box->close();
}
