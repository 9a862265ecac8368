// The list editing commands: delete, delete all, move up and down, and the
// double click that opens the selected files for listening.
#include "app/main_dlg.h"

#include "app/prompter.h"
#include "medialist/item_list_view.h"
#include "medialist/launcher.h"

namespace sonaweld {
namespace {

const QString kSelectItems = QStringLiteral("Please select items!");

// A running join reads the list it started with, and an emptied list would
// leave the Join button refusing with "add files" instead of stopping the
// join; so the list stays as it is until the join ends.
bool editingLocked(const CMainDlg &dlg)
{
    return dlg.converting() != 0;
}

} // namespace

void CMainDlg::OnDeleteSelected()
{
    if (editingLocked(*this) || items_.itemCount() <= 0)
        return;
    int r = firstSelectedOrAsk();
    if (r == -1)
        return;
    // The rows are those of the list before the command; the list is only
    // rebuilt at the end, so each removal shifts the later entries by one.
    int removed = 0;
    while (r != -1) {
        const int next = list_->nextSelectedRow(r);
        removeItemAt(r - removed);
        ++removed;
        r = next;
    }
    refreshItemList();
}

void CMainDlg::OnDeleteAll()
{
    if (editingLocked(*this))
        return;
    items_.clear();
    refreshItemList();
}

void CMainDlg::OnMoveUp()
{
    moveSelected(-1);
}

void CMainDlg::OnMoveDown()
{
    moveSelected(+1);
}

int CMainDlg::firstSelectedOrAsk()
{
    const int r = list_->nextSelectedRow(-1);
    if (r == -1)
        prompter_.appMessage(kSelectItems);
    return r;
}

// The selection is walked top down both ways, and moves together or not at
// all: the edge row is met first going up, before anything has moved. Going
// down, an item moved onto the next selected row is moved again from there,
// so the top item of a selected block ends up below the block.
void CMainDlg::moveSelected(int step)
{
    if (editingLocked(*this) || items_.itemCount() < 2)
        return;
    int r = firstSelectedOrAsk();
    if (r == -1)
        return;
    const int edge = step < 0 ? 0 : items_.itemCount() - 1;
    while (r != -1) {
        const int next = list_->nextSelectedRow(r);
        if (r == edge) {
            list_->setFocus();
            return;
        }
        if (step < 0) {
            items_.exchange(r - 1, r);
            list_->updateRowsAfterMoveUp(items_, r);
        } else {
            items_.exchange(r, r + 1);
            list_->updateRowsAfterMoveDown(items_, r);
        }
        r = next;
    }
}

// Listening changes nothing, so it stays available while a join runs.
void CMainDlg::OnItemDoubleClick()
{
    if (items_.itemCount() == 0)
        return;
    int r = firstSelectedOrAsk();
    if (r == -1)
        return;
    Launcher &launcher = this->launcher();
    while (r != -1) {
        const int next = list_->nextSelectedRow(r);
        const QString path = items_.pathAt(r);
        if (!fileExists(path)) {
            prompter_.error(path + QStringLiteral(" does not exist!"));
            return;
        }
        const QString player = launcher.playerPath();
        if (!player.isEmpty() && fileExists(player))
            launcher.startCommandLine(playerCommandLine(player, path), player);
        else
            launcher.openWithShell(path);
        r = next;
    }
}

} // namespace sonaweld
