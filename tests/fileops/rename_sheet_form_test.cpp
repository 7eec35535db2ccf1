// The rename sheet's form: its title and button words, its window buttons, labels tied to the
// fields for screen readers, and a reason under the field that is shown whole.
#include "fileops/gui/XPSimpleFileRenameController.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(RenameSheetForm, TitleButtonAndWindowButtonsFitASmallDialog)
{
    const QString dir = KelsoTest::home() + "/form";
    KelsoTest::writeFile(dir + "/Report.pdf", "r");
    QWidget window;
    window.show();
    auto *sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Report.pdf", &window);
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Rename"));
    EXPECT_EQ(sheet->okButton()->text(), QStringLiteral("Rename"));
    const Qt::WindowFlags flags = sheet->windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    sheet->cancelAction();
}

TEST(RenameSheetForm, TheNewNameFieldIsNamedByItsLabel)
{
    const QString dir = KelsoTest::home() + "/labels";
    KelsoTest::writeFile(dir + "/notes.txt", "n");
    auto *sheet = XPSimpleFileRenameController::showRenameDialogForFile(dir + "/notes.txt", nullptr);
    QAccessibleInterface *field = QAccessible::queryAccessibleInterface(sheet->newName());
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(QAccessible::Name), QStringLiteral("New name:"));
    const auto labels = field->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.first().first->text(QAccessible::Name), QStringLiteral("New name:"));
    // Every label shown in the sheet says something.
    for (QLabel *label : sheet->findChildren<QLabel *>()) {
        if (label->isVisible()) {
            EXPECT_FALSE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name).isEmpty());
        }
    }
    sheet->cancelAction();
}

TEST(RenameSheetForm, TheTakenNameMessageIsShownWhole)
{
    const QString dir = KelsoTest::home() + "/taken";
    KelsoTest::writeFile(dir + "/Quarterly report for the board.pdf", "r");
    KelsoTest::writeFile(dir + "/Quarterly report for the whole board of directors.pdf", "t");
    QWidget window;
    window.resize(800, 600);
    window.show();
    auto *sheet =
        XPSimpleFileRenameController::showRenameDialogForFile(dir + "/Quarterly report for the board.pdf", &window);
    QApplication::processEvents();
    sheet->newName()->setText("Quarterly report for the whole board of directors");
    sheet->okAction();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !sheet->isRenaming(); }, 10000));
    QLabel *message = sheet->messageLabel();
    ASSERT_FALSE(message->isHidden());
    ASSERT_FALSE(message->text().isEmpty());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return message->isVisible(); }));
    QApplication::processEvents();
    // The label has the height its wrapped text needs, and lies inside the sheet.
    EXPECT_GE(message->height(), message->heightForWidth(message->width())) << message->text().toStdString();
    EXPECT_TRUE(sheet->rect().contains(message->geometry())) << sheet->height() << " " << message->geometry().bottom();
    sheet->cancelAction();
}
