// Tags and ratings in the grids: cached on the item off the main thread, told by the cell's tool
// tip and accessible description, painted as a small mark; and what a screen reader finds in the
// main window (a named frame, named pane groups, named grids, cells with actions); controls that
// match the dark panels and a tray icon that stands out on light and dark trays.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/KLImageBrowserCellText.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLImageBrowserViewAccessible.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "browser/KLSvgIcon.h"
#include "support/TestSupport.h"
#include "tags/Lumitag.h"
#include "tags/editor/XPTagEditorController.h"
#include "tags/editor/XPTokenField.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QToolButton>
#include <QToolTip>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString makeFile(const QString &name, const QByteArray &content = QByteArray(2048, 'x'))
{
    const QString path = KelsoTest::home() + QStringLiteral("/Documents/") + name;
    KelsoTest::writeFile(path, content);
    return path;
}

// An item whose cached facts have been read (as the item worker would).
KLItemPtr refreshedItem(const QString &path)
{
    KLItemPtr item = KLItem::create(path);
    item->calculateCache();
    return item;
}

double luminance(const QColor &c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Pixels of the rating's gold (strongly yellow) inside `area`.
int goldPixels(const QImage &image, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 200 && c.green() > 150 && c.blue() < 100;
        }
    return n;
}

class ListSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return top; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

QAccessibleInterface *findDescendant(QAccessibleInterface *root, QAccessible::Role role, const QString &name,
                                     int depth = 0)
{
    if (!root || depth > 12)
        return nullptr;
    if (root->role() == role && root->text(QAccessible::Name) == name)
        return root;
    for (int i = 0; i < root->childCount(); ++i) {
        if (QAccessibleInterface *found = findDescendant(root->child(i), role, name, depth + 1))
            return found;
    }
    return nullptr;
}

} // namespace

TEST(CellTagsTest, TheItemCachesTagsAndRatingWithItsFileFacts)
{
    const QString path = makeFile(QStringLiteral("plan.pdf"));
    KLItemPtr item = KLItem::create(path);
    // Nothing is read on the asking thread: before the update the cache is empty.
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Work"), QStringLiteral("Urgent")}, path));
    ASSERT_FALSE(Lumitag::setRating(4, path));
    item->calculateCache();
    KLItem::TagFacts facts = item->tagFacts();
    EXPECT_EQ(facts.tags, (QStringList{QStringLiteral("Work"), QStringLiteral("Urgent")}));
    EXPECT_DOUBLE_EQ(facts.rating, 4.0);

    // A later change shows after the next update; a removed rating counts as none.
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Done")}, path));
    ASSERT_FALSE(Lumitag::setRating(0, path));
    EXPECT_EQ(item->tagFacts().tags.size(), 2); // still the cached answer
    item->calculateCache();
    facts = item->tagFacts();
    EXPECT_EQ(facts.tags, QStringList{QStringLiteral("Done")});
    EXPECT_DOUBLE_EQ(facts.rating, 0.0);

    // A copy keeps them; a file that is gone has none.
    EXPECT_EQ(item->copyItem()->tagFacts().tags, QStringList{QStringLiteral("Done")});
    ASSERT_TRUE(QFile::remove(path));
    item->calculateCache();
    EXPECT_TRUE(item->tagFacts().tags.isEmpty());
}

TEST(CellTagsTest, ToolTipAndDescriptionTellTagsRatingAndTheRest)
{
    const QString path = makeFile(QStringLiteral("Budget 2027.ods"), QByteArray(3 * 1024, 'x'));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Finance"), QStringLiteral("Q1")}, path));
    ASSERT_FALSE(Lumitag::setRating(3, path));
    const KLItemPtr item = refreshedItem(path);
    const KLCellFacts facts = KLCellText::factsForItem(item);
    EXPECT_EQ(facts.name, QStringLiteral("Budget 2027.ods"));
    EXPECT_EQ(facts.folder, QStringLiteral("~/Documents"));

    const QStringList tip = KLCellText::toolTip(facts).split(QLatin1Char('\n'));
    EXPECT_EQ(tip.value(0), QStringLiteral("Budget 2027.ods"));
    EXPECT_TRUE(tip.contains(QStringLiteral("Folder: ~/Documents"))) << tip.join(" | ").toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Date: ") + item->imageSubtitle())) << tip.join(" | ").toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Size: 3.0 kB"))) << tip.join(" | ").toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Tags: Finance, Q1"))) << tip.join(" | ").toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Rating: 3 of 5 stars"))) << tip.join(" | ").toStdString();

    const QString description = KLCellText::accessibleDescription(facts);
    EXPECT_EQ(description,
              item->imageSubtitle() + QStringLiteral(", ODS file, in ~/Documents, tags: Finance, Q1, rated 3 stars"));

    // The model answers the same through the roles item views and screen readers ask for.
    KLImageBrowserModel model;
    model.setItems({item});
    const QModelIndex index = model.index(0);
    EXPECT_EQ(index.data(Qt::ToolTipRole).toString(), KLCellText::toolTip(facts));
    EXPECT_EQ(index.data(Qt::AccessibleDescriptionRole).toString(), description);
    EXPECT_EQ(index.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Budget 2027.ods"));
}

TEST(CellTagsTest, DescriptionsOfStacksMissingFilesAndPlainFiles)
{
    KLCellFacts stack;
    stack.name = QStringLiteral("Music");
    stack.folder = QStringLiteral("~");
    stack.stackCount = 22;
    stack.isFolder = true;
    EXPECT_EQ(KLCellText::accessibleDescription(stack), QStringLiteral("stack, 22 items, folder, in ~"));

    KLCellFacts missing;
    missing.name = QStringLiteral("gone.txt");
    missing.folder = QStringLiteral("/tmp");
    missing.missing = true;
    missing.date = QStringLiteral("Today, 10:00");
    missing.rating = 1;
    const QString d = KLCellText::accessibleDescription(missing);
    EXPECT_EQ(d, QStringLiteral("missing, TXT file, in /tmp, rated 1 star"));
    EXPECT_TRUE(KLCellText::toolTip(missing).contains(QStringLiteral("\nmissing")));
    EXPECT_FALSE(KLCellText::toolTip(missing).contains(QStringLiteral("Date:")));

    // No extension, a hidden name, half stars, out-of-range ratings.
    KLCellFacts plain;
    plain.name = QStringLiteral(".bashrc");
    EXPECT_EQ(KLCellText::kindText(plain), QStringLiteral("file"));
    plain.name = QStringLiteral("Makefile");
    EXPECT_EQ(KLCellText::kindText(plain), QStringLiteral("file"));
    plain.name = QStringLiteral("notes.");
    EXPECT_EQ(KLCellText::kindText(plain), QStringLiteral("file"));
    EXPECT_EQ(KLCellText::ratingText(3.5), QStringLiteral("rated 3.5 stars"));
    EXPECT_EQ(KLCellText::ratingText(9), QStringLiteral("rated 5 stars"));
    EXPECT_TRUE(KLCellText::ratingText(0).isEmpty());
    EXPECT_TRUE(KLCellText::ratingText(-2).isEmpty());
    EXPECT_EQ(KLCellText::wholeStars(0.5), 1);
    EXPECT_EQ(KLCellText::wholeStars(2.4), 2);
    EXPECT_EQ(KLCellText::wholeStars(7), 5);
    EXPECT_EQ(KLCellText::wholeStars(0), 0);
    EXPECT_FALSE(KLCellText::toolTip(plain).contains(QStringLiteral("Rating")));
}

TEST(CellTagsTest, ARatedTaggedCellShowsTheMarkAndAPlainOneDoesNot)
{
    const QString ratedPath = makeFile(QStringLiteral("rated.txt"));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Red"), QStringLiteral("Blue")}, ratedPath));
    ASSERT_FALSE(Lumitag::setRating(3, ratedPath));
    const KLItemPtr rated = refreshedItem(ratedPath);
    const KLItemPtr plain = refreshedItem(makeFile(QStringLiteral("plain.txt")));

    KLImageBrowserView view;
    KLImageBrowserModel model;
    model.setItems({rated, plain});
    view.setModel(&model);
    const QRect cellRect(0, 0, KLImageBrowserCell::kCellWidth, KLImageBrowserCell::kCellHeight);

    auto paintCell = [&](int row) {
        QImage image(cellRect.size(), QImage::Format_ARGB32);
        image.fill(QColor(40, 40, 40));
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = cellRect;
        view.cell()->paint(&painter, option, model.index(row));
        painter.end();
        return image;
    };
    const QRect mark = KLImageBrowserCell::tagMarkRect(cellRect, 3, 2);
    ASSERT_FALSE(mark.isEmpty());
    // The mark keeps to the picture area's top-right corner, clear of the titles and the badge.
    const QRect area = KLImageBrowserCell::imageAreaForCell(cellRect);
    EXPECT_TRUE(area.contains(mark));
    EXPECT_EQ(mark.right(), area.right());
    EXPECT_FALSE(mark.intersects(KLImageBrowserCell::deleteFrameRect(area)));
    EXPECT_GT(goldPixels(paintCell(0), mark), 30);
    EXPECT_EQ(goldPixels(paintCell(1), cellRect), 0);

    // More stars, a wider mark; nothing to show, no mark.
    EXPECT_GT(KLImageBrowserCell::tagMarkRect(cellRect, 5, 0).width(),
              KLImageBrowserCell::tagMarkRect(cellRect, 1, 0).width());
    EXPECT_TRUE(KLImageBrowserCell::tagMarkRect(cellRect, 0, 0).isEmpty());
    EXPECT_FALSE(KLImageBrowserCell::tagMarkRect(cellRect, 0, 1).isEmpty());
}

TEST(CellTagsTest, TheCellToolTipShowsExceptOverTheDeleteBadge)
{
    const QString path = makeFile(QStringLiteral("tip.txt"));
    ASSERT_FALSE(Lumitag::setRating(5, path));
    auto source = std::make_unique<ListSource>();
    source->top.append(refreshedItem(path));
    KLMainWindowController::Options options;
    options.recentSource = std::move(source);
    options.coolerStorePath = KelsoTest::home() + QStringLiteral("/stores/tips.plist");
    KLMainWindowController controller(std::move(options));
    controller.kelsoDelegate()->updateChangedFiles();
    controller.kelsoDelegate()->reloadBrowserNow();
    controller.window()->show();
    QApplication::processEvents();
    KLImageBrowserView &view = *controller.kelsoBrowser();
    const QRect badge = view.deleteFrameRectForIndex(0);
    ASSERT_FALSE(badge.isEmpty());
    auto askForTip = [&](const QPoint &pos) {
        // Hiding takes a moment (the tip fades); ask only once the last one is gone.
        QToolTip::hideText();
        EXPECT_TRUE(KelsoTest::waitFor([] { return !QToolTip::isVisible(); }, 3000));
        QHelpEvent help(QEvent::ToolTip, pos, view.viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const QString tip = askForTip(view.imageFrameForIndex(0).center());
    EXPECT_TRUE(tip.startsWith(QStringLiteral("tip.txt\n"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Rating: 5 of 5 stars"))) << tip.toStdString();
    EXPECT_TRUE(askForTip(badge.center()).isEmpty());
    QToolTip::hideText();
}

TEST(CellTagsTest, ScreenReadersFindNamedGridsAndCellsWithActions)
{
    const QString path = makeFile(QStringLiteral("report.pdf"));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Work")}, path));
    ASSERT_FALSE(Lumitag::setRating(2, path));
    auto source = std::make_unique<ListSource>();
    source->top.append(refreshedItem(path));
    KLMainWindowController::Options options;
    options.recentSource = std::move(source);
    options.coolerStorePath = KelsoTest::home() + QStringLiteral("/stores/a11y.plist");
    KLMainWindowController controller(std::move(options));
    controller.kelsoDelegate()->updateChangedFiles();
    controller.kelsoDelegate()->reloadBrowserNow();
    controller.window()->show();
    QApplication::processEvents();

    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(controller.window());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("Kelso"));
    EXPECT_TRUE(findDescendant(window, QAccessible::Grouping, QStringLiteral("Recent files pane")));
    EXPECT_TRUE(findDescendant(window, QAccessible::Grouping, QStringLiteral("Cooler pane")));
    EXPECT_TRUE(findDescendant(window, QAccessible::List, QStringLiteral("Cooler")));
    QAccessibleInterface *grid = findDescendant(window, QAccessible::List, QStringLiteral("Recent files"));
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->childCount(), 1);

    QAccessibleInterface *cell = grid->child(0);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->role(), QAccessible::ListItem);
    EXPECT_EQ(grid->child(0), cell); // the same interface each time
    EXPECT_EQ(grid->indexOfChild(cell), 0);
    EXPECT_EQ(cell->parent(), grid);
    EXPECT_EQ(cell->text(QAccessible::Name), QStringLiteral("report.pdf"));
    const QString description = cell->text(QAccessible::Description);
    EXPECT_TRUE(description.contains(QStringLiteral("tags: Work"))) << description.toStdString();
    EXPECT_TRUE(description.contains(QStringLiteral("rated 2 stars"))) << description.toStdString();
    EXPECT_EQ(grid->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);

    QAccessibleActionInterface *actions = cell->actionInterface();
    ASSERT_TRUE(actions);
    EXPECT_EQ(actions->actionNames(),
              (QStringList{QStringLiteral("Open"), QAccessibleActionInterface::showMenuAction()}));
    EXPECT_EQ(actions->localizedActionName(QAccessibleActionInterface::showMenuAction()), QStringLiteral("Show Menu"));

    // Selection shows in the cell's state; a cell past the end after a reload is no longer valid.
    controller.kelsoDelegate()->selectIndexes({0});
    EXPECT_TRUE(cell->state().selected);
    controller.kelsoDelegate()->model()->setItems({});
    EXPECT_FALSE(cell->isValid());
    EXPECT_EQ(grid->childCount(), 0);
}

TEST(PanelControlsTest, ControlsOnTheDarkPanelsUseTheDarkPalette)
{
    auto source = std::make_unique<ListSource>();
    KLMainWindowController::Options options;
    options.recentSource = std::move(source);
    options.coolerStorePath = KelsoTest::home() + QStringLiteral("/stores/palette.plist");
    KLMainWindowController controller(std::move(options));
    auto *addFile = controller.window()->findChild<QToolButton *>(QStringLiteral("filePicker"));
    ASSERT_TRUE(addFile);
    for (QWidget *w : {static_cast<QWidget *>(addFile), static_cast<QWidget *>(controller.menuBar())}) {
        const QPalette pal = w->palette();
        EXPECT_LT(luminance(pal.color(QPalette::Button)), 0.1) << w->objectName().toStdString();
        EXPECT_LT(luminance(pal.color(QPalette::Window)), 0.1) << w->objectName().toStdString();
        EXPECT_GE(contrast(pal.color(QPalette::ButtonText), pal.color(QPalette::Button)), 4.5);
        EXPECT_GE(contrast(pal.color(QPalette::WindowText), pal.color(QPalette::Window)), 4.5);
        EXPECT_GE(contrast(pal.color(QPalette::Text), pal.color(QPalette::Base)), 4.5);
    }
}

TEST(TrayIconTest, TheIconStandsOutOnLightAndDarkTrays)
{
    const QIcon icon = KLSvgIcon::fromFile(QStringLiteral(":/icons/KelsoMenuItem.svg"));
    ASSERT_FALSE(icon.isNull());
    const int size = 22;
    for (const QColor &tray : {QColor(Qt::white), QColor(235, 235, 235), QColor(48, 48, 48), QColor(Qt::black)}) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(tray);
        QPainter painter(&image);
        icon.paint(&painter, QRect(0, 0, size, size));
        painter.end();
        // Pixels a viewer tells from the tray (3:1, the contrast asked of graphics).
        int distinct = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                distinct += contrast(image.pixelColor(x, y), tray) >= 3.0;
        EXPECT_GT(distinct, size * size / 5) << tray.name().toStdString();
    }
}

TEST(TagEditorLabelsTest, TheTagFieldIsNamedAfterTheFileAndLabelledByTheTitleAboveIt)
{
    const QString path = makeFile(QStringLiteral("minutes.txt"));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Board")}, path));
    XPTagEditorController editor;
    editor.editFiles({path});
    QWidget *field = editor.tagsTokenField();
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(field);
    ASSERT_TRUE(iface);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Tags of minutes.txt"));
    const auto labels = iface->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.first().first->text(QAccessible::Name), editor.tagFieldTitleBar()->text());
    // Each chip is read out as its tag.
    ASSERT_EQ(editor.tagsTokenField()->chipCount(), 1);
    EXPECT_EQ(editor.tagsTokenField()->chipAt(0)->accessibleName(), QStringLiteral("Board"));
}

TEST(CellTitleTest, NamesWithControlCharactersStayOneLineAndShowThem)
{
    EXPECT_EQ(KLCellText::oneLine(QStringLiteral("two\nlines.txt")), QString::fromUtf8("two\u21b5lines.txt"));
    EXPECT_EQ(KLCellText::oneLine(QStringLiteral("a\tb\r\x7f\x01.txt")),
              QString::fromUtf8("a\u2192b\u21b5\ufffd\ufffd.txt"));
    const QString plain = QString::fromUtf8("Café – plan (2).pdf");
    EXPECT_EQ(KLCellText::oneLine(plain), plain);
}
