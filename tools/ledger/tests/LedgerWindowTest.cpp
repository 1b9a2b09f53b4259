// The editor window driven as a user would, on the offscreen platform: menus, right-click popups, the
// edit dialog and the file dialogs, with the file on disk checked after each command.
#include "common/formats/IdfTable.h"
#include "common/formats/tests/IdfTestFiles.h"
#include "tools/ledger/LedgerWindow.h"
#include "tools/qt_test_main/MenuActions.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace idftest;

namespace {

// Calls `act` with the first popup menu (or modal dialog) that appears; fails the test if none does.
void whenShown(bool popup, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto* waited = new int(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* shown = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        if (!shown && ++*waited < 300) return;
        timer->stop();
        timer->deleteLater();
        delete waited;
        if (!shown) {
            ADD_FAILURE() << "no " << (popup ? "popup" : "dialog") << " appeared";
            return;
        }
        act(shown);
    });
    timer->start(10);
}

QStringList entries(QWidget* popup) {
    QStringList texts;
    for (QAction* action : popup->actions()) texts << action->text();
    return texts;
}

void choose(QWidget* popup, int entry) {
    auto* menu = qobject_cast<QMenu*>(popup);
    ASSERT_NE(menu, nullptr);
    menu->setActiveAction(menu->actions().at(entry));
    QTest::keyClick(menu, Qt::Key_Return);
}

// Fills the edit dialog's field and presses one of its buttons ("ok" or "cancel").
void answerEdit(QWidget* dialog, const QString& text, const char* button, QString* shownText = nullptr) {
    auto* edit = dialog->findChild<QLineEdit*>("edit");
    auto* press = dialog->findChild<QPushButton*>(button);
    ASSERT_TRUE(edit && press);
    if (shownText) *shownText = edit->text();
    edit->setText(text);
    QTest::mouseClick(press, Qt::LeftButton);
}

class LedgerWindowTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        window = std::make_unique<LedgerWindow>(table);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        table.close();
        TempDirTest::TearDown();
    }

    void openItems(const std::vector<Item>& items, int32_t widest = -1) {
        path = file("w.idf");
        writeBytes(path, idfBytes(items, widest));
        ASSERT_TRUE(window->openPath(QString::fromStdString(path)));
    }
    QAction* action(const QString& menu, const QString& text) { return findMenuAction(window->menuBar(), menu, text); }
    QStringList titles() {
        QStringList list;
        QAbstractItemModel* model = window->grid()->model();
        for (int c = 0; c < model->columnCount(); ++c) list << model->headerData(c, Qt::Horizontal).toString();
        return list;
    }
    QString cell(int row, int column) { return window->grid()->model()->index(row, column).data().toString(); }
    void rightClickRow(int row) {
        QTableView* grid = window->grid();
        const QPoint at = grid->visualRect(grid->model()->index(row, 0)).center();
        const QPoint global = grid->viewport()->mapToGlobal(at);
        QCursor::setPos(global);
        // QTest delivers mouse events straight to the widget, so the context-menu event that the window
        // system derives from a right-click is sent here as well.
        QTest::mouseClick(grid->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, global);
        QApplication::sendEvent(grid->viewport(), &menuEvent);
    }

    IdfTable table;
    std::unique_ptr<LedgerWindow> window;
    std::string path;
};

TEST_F(LedgerWindowTest, TitleSizeAndMenus) {
    EXPECT_EQ(window->windowTitle(), "item_maker");
    EXPECT_EQ(window->size(), QSize(500, 400));
    QStringList item;
    for (QAction* a : window->menuBar()->actions().at(1)->menu()->actions()) item << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(item, QStringList({"New", "Delete", "Clon", "Move to the top", "-", "New Record", "Delete Record",
                                 "Clon Record"}));
    EXPECT_EQ(titles(), QStringList({"Item name", "Class"}));
    EXPECT_TRUE(window->grid()->showGrid());
    EXPECT_EQ(window->grid()->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(LedgerWindowTest, ColumnTitlesInNormalAndHeaderMode) {
    openItems({{{"name", "a"}, {"class", "c"}, {"mesh", "m"}, {"texture", "t"}, {"speed", "5"}}, namedItem("b")});
    EXPECT_EQ(titles(), QStringList({"Item name", "Class", "Record", "Record", "Record"}));
    EXPECT_EQ(window->grid()->columnWidth(4), 100);
    action("View", "Header mode")->trigger();
    EXPECT_EQ(titles(), QStringList({"name", "class", "mesh", "texture", "speed"}));

    // Columns beyond the first item's records keep the plain title.
    openItems({{{"name", "a"}, {"class", "c"}, {"mesh", "m"}}, namedItem("b")}, 5);
    EXPECT_EQ(titles(), QStringList({"name", "class", "mesh", "Record", "Record"}));
    EXPECT_EQ(cell(0, 2), "m");
    EXPECT_EQ(cell(1, 2), "");  // past the item's records
    action("View", "Header mode")->trigger();
    EXPECT_EQ(titles(), QStringList({"Item name", "Class", "Record", "Record", "Record"}));
}

TEST_F(LedgerWindowTest, PopupOfANewItemListsItsRecords) {
    openItems({});
    action("Item", "New")->trigger();
    ASSERT_EQ(window->grid()->model()->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "new_item");
    QStringList shown;
    whenShown(true, [&](QWidget* popup) {
        shown = entries(popup);
        popup->close();
    });
    rightClickRow(0);
    EXPECT_EQ(shown, QStringList({"name - new_item", "class - unclassified"}));
}

TEST_F(LedgerWindowTest, EditThenCancelLeavesTheFileUnchanged) {
    openItems({namedItem("a"), namedItem("b")});
    const Bytes before = readBytes(path);
    QString start;
    whenShown(true, [&](QWidget* popup) {
        whenShown(false, [&](QWidget* dialog) { answerEdit(dialog, "changed", "cancel", &start); });
        choose(popup, 1);
    });
    rightClickRow(1);
    EXPECT_EQ(start, "unclassified");
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(LedgerWindowTest, EditThenOkChangesExactlyOneValueOnDisk) {
    openItems({namedItem("a"), namedItem("b")});
    Bytes expected = readBytes(path);
    whenShown(true, [&](QWidget* popup) {
        whenShown(false, [&](QWidget* dialog) { answerEdit(dialog, "weapon", "ok"); });
        choose(popup, 1);
    });
    rightClickRow(1);
    // Item 1's record 1 value field, and nothing else.
    const size_t field = 12 + 268 + 4 + 132 + 68;
    std::fill(expected.begin() + field, expected.begin() + field + 64, 0);
    std::memcpy(expected.data() + field, "weapon", 6);
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_EQ(cell(1, 1), "weapon");
}

TEST_F(LedgerWindowTest, DeleteKeyNeedsASelectedRow) {
    openItems({namedItem("a"), namedItem("b")});
    const Bytes before = readBytes(path);
    window->grid()->clearSelection();
    QTest::keyClick(window->grid(), Qt::Key_Delete);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(window->grid()->model()->rowCount(), 2);

    window->grid()->selectRow(0);
    QTest::keyClick(window->grid(), Qt::Key_Delete);
    EXPECT_EQ(readBytes(path), idfBytes({namedItem("b")}, 2));
    EXPECT_EQ(cell(0, 0), "b");
}

TEST_F(LedgerWindowTest, ItemCommandsWithoutAFileDoNothing) {
    for (const char* text : {"New", "Delete", "Clon", "Move to the top", "New Record", "Delete Record", "Clon Record"})
        action("Item", text)->trigger();
    window->grid()->selectAll();
    QTest::keyClick(window->grid(), Qt::Key_Delete);
    EXPECT_EQ(window->grid()->model()->rowCount(), 0);
    EXPECT_EQ(titles(), QStringList({"Item name", "Class"}));
}

TEST_F(LedgerWindowTest, ItemCommandsOnTheSelectedRow) {
    openItems({namedItem("a"), namedItem("b")});
    window->grid()->selectRow(1);
    action("Item", "Move to the top")->trigger();
    EXPECT_EQ(cell(0, 0), "b");
    window->grid()->selectRow(0);
    action("Item", "Clon")->trigger();
    EXPECT_EQ(cell(2, 0), "b");

    window->grid()->selectRow(2);
    whenShown(false, [&](QWidget* dialog) { answerEdit(dialog, "colour", "ok"); });
    action("Item", "New Record")->trigger();
    EXPECT_EQ(titles().size(), 3);
    EXPECT_EQ(cell(2, 2), "colour");
    EXPECT_STREQ(table.getItem(2)->records[2].key, "colour");

    window->grid()->selectRow(2);
    whenShown(true, [&](QWidget* popup) {
        EXPECT_EQ(entries(popup).size(), 3);
        choose(popup, 0);
    });
    action("Item", "Delete Record")->trigger();
    EXPECT_EQ(cell(2, 0), "unclassified");
    EXPECT_EQ(table.getItem(2)->recordCount, 2u);
}

TEST_F(LedgerWindowTest, OpenDialogFiltersItemDataFilesAndOffersToCreate) {
    const QString missing = QString::fromStdString(file("fresh"));
    QStringList filters;
    QString suffix;
    whenShown(false, [&](QWidget* shown) {
        auto* dialog = qobject_cast<QFileDialog*>(shown);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        whenShown(false, [&](QWidget* question) {
            auto* box = qobject_cast<QMessageBox*>(question);
            ASSERT_NE(box, nullptr);
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        });
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(missing);
        QTest::keyClick(dialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
    });
    action("File", "Open")->trigger();
    EXPECT_EQ(filters, QStringList({"Item Data File Format (*.idf)"}));
    EXPECT_EQ(suffix, "idf");
    EXPECT_EQ(readBytes(file("fresh.idf")), idfBytes({}, 0));
    action("Item", "New")->trigger();
    EXPECT_EQ(window->grid()->model()->rowCount(), 1);
}

TEST_F(LedgerWindowTest, EscapeClosesTheWindow) {
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
