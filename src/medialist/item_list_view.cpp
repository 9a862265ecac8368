#include "medialist/item_list_view.h"

#include "medialist/media_item.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace sonaweld {

ItemListView::ItemListView(QWidget *parent)
    : QTableWidget(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setWordWrap(false);
    verticalHeader()->hide();
    // Compact rows, one line of text each, as a report list has.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    setFrameShape(QFrame::StyledPanel);
    // A list, not a grid of cells: Tab leaves it for the next control, as a
    // keyboard user needs to reach the buttons beside it.
    setTabKeyNavigation(false);

    // Selection shows only while the list has the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Inactive, QPalette::Text));
    setPalette(pal);
}

QModelIndex ItemListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Home and End go to the first and last entry, as in any list; a table
    // would only go to the first and last column of the row.
    if ((action == MoveHome || action == MoveEnd) && rowCount() > 0)
        return model()->index(action == MoveHome ? 0 : rowCount() - 1, 0);
    return QTableWidget::moveCursor(action, modifiers);
}

void ItemListView::setupColumns()
{
    setShowGrid(true);
    setColumnCount(2);
    const QStringList headings{QStringLiteral("Sound File Name"), QStringLiteral("Duration(s)")};
    for (int column = 0; column < 2; ++column) {
        auto *header = new QTableWidgetItem(headings[column]);
        header->setTextAlignment(Qt::AlignCenter);
        setHorizontalHeaderItem(column, header);
    }
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setColumnWidth(0, 245);
    setColumnWidth(1, 80);
}

void ItemListView::insertItemRow(const ItemTable &table, int row)
{
    insertRow(row);
    auto *name = new QTableWidgetItem(itemNameText(table.pathAt(row)));
    name->setTextAlignment(Qt::AlignCenter);
    setItem(row, 0, name);
    auto *seconds = new QTableWidgetItem(durationText(table.durationAt(row)));
    seconds->setTextAlignment(Qt::AlignCenter);
    setItem(row, 1, seconds);
}

void ItemListView::refreshItemList(const ItemTable &table)
{
    setRowCount(0);
    clearSelection();
    for (int i = 0; i < table.itemCount(); ++i)
        insertItemRow(table, i);
}

void ItemListView::updateRowsAfterMoveUp(const ItemTable &table, int a)
{
    removeRow(a - 1);
    insertItemRow(table, a);
    setFocus();
}

void ItemListView::updateRowsAfterMoveDown(const ItemTable &table, int a)
{
    removeRow(a + 1);
    insertItemRow(table, a);
    setFocus();
}

int ItemListView::nextSelectedRow(int after) const
{
    const QItemSelectionModel *selection = selectionModel();
    for (int row = after + 1; row < rowCount(); ++row) {
        if (selection->isRowSelected(row, QModelIndex()))
            return row;
    }
    return -1;
}

void ItemListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterPressed();
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        // A held key would follow the deletion with "Please select items!"
        // for every repeat, the selection being gone after the first.
        if (!event->isAutoRepeat())
            emit deletePressed();
        return;
    }
    if (selectsEdgeRowInPlace(event))
        return;
    QTableWidget::keyPressEvent(event);
}

bool ItemListView::selectsEdgeRowInPlace(QKeyEvent *event)
{
    // The view selects only when the cursor moves; a list view selects the
    // first or last row on Home or End even where the focus already is, so
    // the commands that follow find it selected.
    const bool home = event->key() == Qt::Key_Home;
    if (!(home || event->key() == Qt::Key_End) || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    const QModelIndex target = moveCursor(home ? MoveHome : MoveEnd, event->modifiers());
    if (!target.isValid() || target.row() != currentIndex().row())
        return false;
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    event->accept();
    return true;
}

void ItemListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The view's own handling first: on empty space it acts as a press, which
    // clears the selection, so the command then finds nothing selected.
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit listDoubleClicked();
}

} // namespace sonaweld
