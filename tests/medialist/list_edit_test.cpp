#include "app/main_dlg.h"
#include "medialist/item_list_view.h"
#include "medialist/launcher.h"
#include "support/recording_launcher.h"
#include "support/scripted_prompter.h"
#include "support/temp_settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace sonaweld;
using namespace sonaweld::test;

namespace {

class ListEditTest : public ::testing::Test
{
protected:
    TempSettings settings;
    ScriptedPrompter prompter;
    RecordingLauncher launcher;
    CMainDlg dlg{prompter};
    ItemListView *list = dlg.itemList();
    QTemporaryDir dir;

    void SetUp() override { dlg.setLauncher(&launcher); }
    void TearDown() override { dlg.setConverting(false); }

    // One item per letter, "/music/<letter>.wav", each as long in seconds as
    // its position plus ten, so a duration shows which path it belongs to.
    void fill(const QString &letters)
    {
        for (QChar c : letters)
            dlg.items().append("/music/" + QString(c) + ".wav",
                               (10 + dlg.items().itemCount()) * kUnitsPerSecond);
        dlg.refreshItemList();
    }
    // Entries of the table as "<letter><seconds>", e.g. "a10".
    QStringList table()
    {
        QStringList out;
        const ItemTable &t = dlg.items();
        for (int i = 0; i < t.itemCount(); ++i)
            out << QFileInfo(t.pathAt(i)).baseName() + QString::number(t.durationAt(i) / kUnitsPerSecond);
        return out;
    }
    // The same read off the list's cells.
    QStringList rows()
    {
        QStringList out;
        for (int r = 0; r < list->rowCount(); ++r)
            out << QFileInfo(list->item(r, 0)->text()).baseName() + list->item(r, 1)->text();
        return out;
    }
    QList<int> selectedRows()
    {
        QList<int> out;
        for (const QModelIndex &index : list->selectionModel()->selectedRows())
            out << index.row();
        std::sort(out.begin(), out.end());
        return out;
    }
    void select(std::initializer_list<int> rowsToSelect)
    {
        for (int r : rowsToSelect)
            list->selectionModel()->select(list->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void pressKey(int key, bool autoRepeat = false)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(list, &press);
    }
    // Press, release, double click, release, as the platform delivers them.
    void doubleClickAt(QPoint pos)
    {
        QWidget *viewport = list->viewport();
        const QPointF local(pos);
        const QPointF global(viewport->mapToGlobal(pos));
        auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
            QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(viewport, &event);
        };
        send(QEvent::MouseButtonPress, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
        send(QEvent::MouseButtonDblClick, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, Qt::NoButton);
    }
    // A real file for the double click to find.
    QString existing(const QString &name)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("RIFF");
        return path;
    }
    void addPaths(const QStringList &paths)
    {
        for (const QString &p : paths)
            dlg.items().append(p, 5 * kUnitsPerSecond);
        dlg.refreshItemList();
    }
    bool listHasFocus() { return dlg.focusWidget() == list; }
};

const QString kSelectItems = "Please select items!";

} // namespace

TEST_F(ListEditTest, DeleteSelectedRemovesExactlyTheSelectedEntries)
{
    fill("abcde");
    select({1, 3});
    dlg.OnDeleteSelected();
    EXPECT_EQ(table(), QStringList({"a10", "c12", "e14"}));
    EXPECT_EQ(rows(), table());
    EXPECT_TRUE(selectedRows().isEmpty());
    EXPECT_TRUE(prompter.shown.isEmpty());

    // Adjacent rows, the last one among them.
    select({1, 2});
    dlg.OnDeleteSelected();
    EXPECT_EQ(table(), QStringList({"a10"}));
    EXPECT_EQ(rows(), table());
}

TEST_F(ListEditTest, DeleteWithNothingToDeleteOrNothingSelected)
{
    dlg.OnDeleteSelected();
    dlg.OnDeleteAll();
    EXPECT_TRUE(prompter.shown.isEmpty()) << "an empty list is silent";

    fill("abc");
    dlg.OnDeleteSelected();
    ASSERT_EQ(prompter.texts(), QStringList({kSelectItems}));
    EXPECT_TRUE(prompter.shown[0].appBox);
    EXPECT_EQ(table(), QStringList({"a10", "b11", "c12"}));
    EXPECT_EQ(rows(), table());
}

TEST_F(ListEditTest, DeleteAllEmptiesTableAndListWithoutAsking)
{
    fill("abc");
    select({1});
    dlg.OnDeleteAll();
    EXPECT_EQ(dlg.items().itemCount(), 0);
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_TRUE(prompter.shown.isEmpty());

    // The list is usable again afterwards: new items start at entry 0.
    fill("x");
    EXPECT_EQ(table(), QStringList({"x10"}));
    EXPECT_EQ(rows(), table());
}

TEST_F(ListEditTest, MoveUpWithTheTopRowSelectedMovesNothing)
{
    fill("abcd");
    select({0, 2});
    dlg.OnMoveUp();
    EXPECT_EQ(table(), QStringList({"a10", "b11", "c12", "d13"}));
    EXPECT_EQ(rows(), table());
    EXPECT_EQ(selectedRows(), QList<int>({0, 2}));
    EXPECT_TRUE(listHasFocus());
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(ListEditTest, MoveUpMovesEverySelectedRowAndKeepsItSelected)
{
    fill("abcde");
    select({2, 3});
    dlg.OnMoveUp();
    EXPECT_EQ(table(), QStringList({"a10", "c12", "d13", "b11", "e14"}));
    EXPECT_EQ(rows(), table());
    EXPECT_EQ(selectedRows(), QList<int>({1, 2}));
    EXPECT_TRUE(listHasFocus());

    // One more press brings both to the top; then the top row stops them.
    dlg.OnMoveUp();
    EXPECT_EQ(table(), QStringList({"c12", "d13", "a10", "b11", "e14"}));
    EXPECT_EQ(selectedRows(), QList<int>({0, 1}));
    dlg.OnMoveUp();
    EXPECT_EQ(table(), QStringList({"c12", "d13", "a10", "b11", "e14"}));
}

TEST_F(ListEditTest, MoveDownStopsAtTheLastRowAndMovesAMiddleRow)
{
    fill("abcd");
    select({3});
    dlg.OnMoveDown();
    EXPECT_EQ(table(), QStringList({"a10", "b11", "c12", "d13"}));
    EXPECT_EQ(selectedRows(), QList<int>({3}));
    EXPECT_TRUE(listHasFocus());

    list->clearSelection();
    select({1});
    dlg.OnMoveDown();
    EXPECT_EQ(table(), QStringList({"a10", "c12", "b11", "d13"}));
    EXPECT_EQ(rows(), table());
    EXPECT_EQ(selectedRows(), QList<int>({2}));

    // A selection reaching the last row: the rows above it still move,
    // walking top down, until the walk reaches the last row.
    list->clearSelection();
    select({0, 3});
    dlg.OnMoveDown();
    EXPECT_EQ(table(), QStringList({"c12", "a10", "b11", "d13"}));
    EXPECT_EQ(rows(), table());
    EXPECT_EQ(selectedRows(), QList<int>({1, 3}));
}

TEST_F(ListEditTest, MoveDownCarriesTheTopOfAnAdjacentSelectionBelowIt)
{
    // x A B C y with A and B selected: A moves below B, then on below C.
    fill("xABCy");
    select({1, 2});
    dlg.OnMoveDown();
    EXPECT_EQ(table(), QStringList({"x10", "B12", "C13", "A11", "y14"}));
    EXPECT_EQ(rows(), table());
    EXPECT_EQ(selectedRows(), QList<int>({3}));
}

TEST_F(ListEditTest, MovesNeedTwoItemsAndASelection)
{
    fill("a");
    select({0});
    dlg.OnMoveUp();
    dlg.OnMoveDown();
    EXPECT_TRUE(prompter.shown.isEmpty());
    EXPECT_EQ(table(), QStringList({"a10"}));

    fill("b");
    dlg.OnMoveUp();
    dlg.OnMoveDown();
    EXPECT_EQ(prompter.texts(), QStringList({kSelectItems, kSelectItems}));
    EXPECT_EQ(table(), QStringList({"a10", "b11"}));
    EXPECT_EQ(rows(), table());
}

TEST_F(ListEditTest, DoubleClickOpensEverySelectedFileInOrder)
{
    const QString first = existing("first.wav");
    const QString second = existing("second take.mp3");
    addPaths({first, existing("skipped.wav"), second});
    select({0, 2});
    dlg.OnItemDoubleClick();
    EXPECT_EQ(launcher.launches, QStringList({"open " + first, "open " + second}));
    EXPECT_TRUE(prompter.shown.isEmpty());
}

TEST_F(ListEditTest, AnInstalledPlayerGetsTheFileUnquoted)
{
    QDir(dir.path()).mkpath("Program Files/Media Player");
    launcher.player = existing("Program Files/Media Player/mplayer2.exe");
    const QString song = existing("my song.mp3");
    addPaths({song});
    select({0});
    dlg.OnItemDoubleClick();
    // The player is named as the program to run as well, so a player path
    // with blanks cannot start a program named by its first word.
    EXPECT_EQ(launcher.launches, QStringList({"run " + launcher.player + " " + song + " as " + launcher.player}));

    // A player that is not there: the shell opens the file instead.
    launcher.player = dir.filePath("nowhere/mplayer2.exe");
    launcher.launches.clear();
    dlg.OnItemDoubleClick();
    EXPECT_EQ(launcher.launches, QStringList({"open " + song}));
}

TEST_F(ListEditTest, AMissingFileStopsTheWalkWithAnError)
{
    const QString first = existing("first.wav");
    const QString gone = existing("gone.wav");
    const QString third = existing("third.wav");
    addPaths({first, gone, third});
    QFile::remove(gone);
    select({0, 1, 2});
    dlg.OnItemDoubleClick();
    EXPECT_EQ(launcher.launches, QStringList({"open " + first}));
    ASSERT_EQ(prompter.shown.size(), 1);
    EXPECT_EQ(prompter.shown[0].text, gone + " does not exist!");
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(prompter.shown[0].appBox);
    // Opening is not editing: the list stays as it was.
    EXPECT_EQ(dlg.items().itemCount(), 3);
    EXPECT_EQ(selectedRows(), QList<int>({0, 1, 2}));
}

TEST_F(ListEditTest, DoubleClickWithTheMouseOnARowAndBelowTheRows)
{
    dlg.OnItemDoubleClick();
    EXPECT_TRUE(prompter.shown.isEmpty()) << "an empty list is silent";

    const QString a = existing("a.wav");
    const QString b = existing("b.wav");
    addPaths({a, b});
    dlg.show();
    QApplication::processEvents();

    doubleClickAt(list->visualRect(list->model()->index(1, 0)).center());
    EXPECT_EQ(selectedRows(), QList<int>({1}));
    EXPECT_EQ(launcher.launches, QStringList({"open " + b}));

    // Empty space below the rows: the press clears the selection first.
    const QRect last = list->visualRect(list->model()->index(1, 0));
    const QPoint below(last.center().x(), last.bottom() + 2 * last.height());
    ASSERT_LT(below.y(), list->viewport()->height());
    doubleClickAt(below);
    EXPECT_TRUE(selectedRows().isEmpty());
    EXPECT_EQ(prompter.texts(), QStringList({kSelectItems}));
    EXPECT_EQ(launcher.launches.size(), 1);
}

TEST_F(ListEditTest, DeleteKeyDeletesTheSelection)
{
    fill("abc");
    select({0, 2});
    pressKey(Qt::Key_Delete);
    EXPECT_EQ(table(), QStringList({"b11"}));
    EXPECT_EQ(rows(), table());

    // Repeats of a held key do not follow up with "Please select items!".
    pressKey(Qt::Key_Delete, true);
    EXPECT_TRUE(prompter.shown.isEmpty());
    pressKey(Qt::Key_Delete);
    EXPECT_EQ(prompter.texts(), QStringList({kSelectItems}));
    EXPECT_EQ(table(), QStringList({"b11"}));
}

TEST_F(ListEditTest, EveryEditingCommandWaitsForTheRunningJoin)
{
    const QString a = existing("a.wav");
    const QString b = existing("b.wav");
    const QString c = existing("c.wav");
    addPaths({a, b, c});
    select({1, 2});
    dlg.show();
    QApplication::processEvents();
    dlg.setConverting(true);

    dlg.OnDeleteSelected();
    pressKey(Qt::Key_Delete);
    dlg.OnMoveUp();
    dlg.OnMoveDown();
    dlg.OnDeleteAll();

    ASSERT_EQ(dlg.items().itemCount(), 3);
    EXPECT_EQ(dlg.items().pathAt(0), a);
    EXPECT_EQ(dlg.items().pathAt(1), b);
    EXPECT_EQ(dlg.items().pathAt(2), c);
    EXPECT_EQ(list->rowCount(), 3);
    EXPECT_TRUE(prompter.shown.isEmpty());
    // Listening edits nothing and stays available.
    dlg.OnItemDoubleClick();
    EXPECT_EQ(launcher.launches, QStringList({"open " + b, "open " + c}));

    // Once the join is over the same commands work again.
    dlg.setConverting(false);
    dlg.OnDeleteAll();
    EXPECT_EQ(dlg.items().itemCount(), 0);
}

TEST(ListeningPlayer, SitsOnTheDriveOfTheTemporaryFolderAndTakesTheFileUnquoted)
{
    EXPECT_EQ(playerCommandLine("C:\\Program Files\\Windows Media Player\\mplayer2.exe", "D:\\my songs\\a b.mp3"),
              "C:\\Program Files\\Windows Media Player\\mplayer2.exe D:\\my songs\\a b.mp3");
    EXPECT_EQ(windowsMediaPlayerPath("C:\\Users\\me\\AppData\\Local\\Temp\\"),
              "C:\\Program Files\\Windows Media Player\\mplayer2.exe");
    EXPECT_EQ(windowsMediaPlayerPath("D:\\TEMP"),
              "D:\\Program Files\\Windows Media Player\\mplayer2.exe");
#ifndef _WIN32
    // No such player here: the double click uses the shell's "open".
    EXPECT_TRUE(SystemLauncher().playerPath().isEmpty());
#endif
}
