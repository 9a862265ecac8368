#include "app/main_dlg.h"
#include "medialist/item_list_view.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"
#include "ui/image_button.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

class ItemListTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    CMainDlg dlg{prompter};
    ItemListView *list = dlg.itemList();

    QStringList rows()
    {
        QStringList out;
        for (int r = 0; r < list->rowCount(); ++r)
            out << list->item(r, 0)->text() + "|" + list->item(r, 1)->text();
        return out;
    }
    QList<int> selectedRows()
    {
        QList<int> out;
        for (int r = list->nextSelectedRow(-1); r != -1; r = list->nextSelectedRow(r))
            out << r;
        return out;
    }
};

} // namespace

TEST_F(ItemListTest, EmptyListShowsItsTwoCentredColumns)
{
    EXPECT_EQ(list->rowCount(), 0);
    ASSERT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "Sound File Name");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "Duration(s)");
    EXPECT_EQ(list->columnWidth(0), 245);
    EXPECT_EQ(list->columnWidth(1), 80);
    EXPECT_EQ(list->horizontalHeaderItem(1)->textAlignment(), int(Qt::AlignCenter));
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    // Selection colour disappears when the list loses the focus.
    EXPECT_EQ(list->palette().color(QPalette::Inactive, QPalette::Highlight),
              list->palette().color(QPalette::Inactive, QPalette::Base));
}

TEST_F(ItemListTest, RefreshShowsNamesAndWholeSecondsWithNothingSelected)
{
    ItemTable &t = dlg.items();
    t.append("/music/song.mp3", 9'990'000);
    t.append("/music/README", 100'000'000);
    t.append("/music/live.2024.final.flac", 39'000'000);
    dlg.refreshItemList();
    EXPECT_EQ(rows(), QStringList({"song.mp3|0", "README|10", "live.2024.final.flac|3"}));
    EXPECT_EQ(list->item(0, 0)->textAlignment(), int(Qt::AlignCenter));

    list->selectRow(1);
    dlg.refreshItemList();
    EXPECT_TRUE(selectedRows().isEmpty());

    dlg.removeItemAt(0);
    dlg.refreshItemList();
    EXPECT_EQ(rows(), QStringList({"README|10", "live.2024.final.flac|3"}));
}

TEST_F(ItemListTest, SelectionQueriesWalkInAscendingOrder)
{
    for (int i = 0; i < 5; ++i)
        dlg.items().append(QStringLiteral("/f%1.wav").arg(i), i * kUnitsPerSecond);
    dlg.refreshItemList();
    EXPECT_EQ(list->nextSelectedRow(-1), -1);
    list->selectionModel()->select(list->model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(selectedRows(), QList<int>({1, 3}));
}

TEST_F(ItemListTest, MoveRowUpdatesKeepTheMovedRowSelected)
{
    ItemTable &t = dlg.items();
    for (int i = 0; i < 4; ++i)
        t.append(QStringLiteral("/f%1.wav").arg(i), i * kUnitsPerSecond);
    dlg.refreshItemList();
    list->selectRow(2);

    // Move entry 2 up: the table exchanges 1 and 2, the view follows.
    t.exchange(1, 2);
    list->updateRowsAfterMoveUp(t, 2);
    EXPECT_EQ(rows(), QStringList({"f0.wav|0", "f2.wav|2", "f1.wav|1", "f3.wav|3"}));
    EXPECT_EQ(selectedRows(), QList<int>({1}));

    // And down again: exchange 1 and 2.
    t.exchange(1, 2);
    list->updateRowsAfterMoveDown(t, 1);
    EXPECT_EQ(rows(), QStringList({"f0.wav|0", "f1.wav|1", "f2.wav|2", "f3.wav|3"}));
    EXPECT_EQ(selectedRows(), QList<int>({2}));
}

TEST_F(ItemListTest, TheKeyboardMovesThroughEntriesAndTabLeavesTheList)
{
    for (const char *name : {"/m/a.wav", "/m/b.wav", "/m/c.wav"})
        dlg.items().append(name, kUnitsPerSecond);
    dlg.refreshItemList();
    dlg.show();
    list->setFocus();
    const auto press = [&](QWidget *target, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    press(list, Qt::Key_End);
    EXPECT_EQ(selectedRows(), QList<int>({2}));
    press(list, Qt::Key_Home);
    EXPECT_EQ(selectedRows(), QList<int>({0}));
    // Tab is the dialog's: it moves on to the Delete button rather than to
    // the next cell of the row.
    press(list, Qt::Key_Tab);
    EXPECT_EQ(dlg.focusWidget(), static_cast<QWidget *>(dlg.button(ControlId::kDelete)));
    EXPECT_EQ(selectedRows(), QList<int>({0}));
}

TEST_F(ItemListTest, HomeAndEndSelectTheirRowEvenWhereTheFocusAlreadyIs)
{
    // The focus rectangle on a row, nothing selected: as after a command
    // that leaves the focus in place, or a click beside the rows.
    struct Case
    {
        int focusedRow; // -1: none
        int key;
        int selected;
        QStringList afterDelete;
    };
    const Case cases[] = {
        {0, Qt::Key_Home, 0, {"b.wav|1", "c.wav|1"}},
        {2, Qt::Key_End, 2, {"a.wav|1", "b.wav|1"}},
        {1, Qt::Key_Home, 0, {"b.wav|1", "c.wav|1"}},
        {1, Qt::Key_End, 2, {"a.wav|1", "b.wav|1"}},
        {-1, Qt::Key_End, 2, {"a.wav|1", "b.wav|1"}},
    };
    dlg.show();
    for (const Case &c : cases) {
        dlg.items().clear();
        for (const char *name : {"/m/a.wav", "/m/b.wav", "/m/c.wav"})
            dlg.items().append(name, kUnitsPerSecond);
        dlg.refreshItemList();
        list->setFocus();
        list->selectionModel()->setCurrentIndex(c.focusedRow < 0 ? QModelIndex() : list->model()->index(c.focusedRow, 0),
                                                QItemSelectionModel::Clear);
        ASSERT_TRUE(selectedRows().isEmpty());
        QKeyEvent event(QEvent::KeyPress, c.key, Qt::NoModifier);
        QApplication::sendEvent(list, &event);
        EXPECT_EQ(selectedRows(), QList<int>({c.selected})) << c.focusedRow << " " << c.key;
        // The command that follows finds the row selected.
        dlg.button(ControlId::kDelete)->click();
        EXPECT_EQ(rows(), c.afterDelete) << c.focusedRow << " " << c.key;
    }
    EXPECT_TRUE(prompter.shown.isEmpty()) << prompter.texts().join('\n').toStdString();
}
