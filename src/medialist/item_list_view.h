#pragma once

#include <QTableWidget>

namespace sonaweld {

class ItemTable;

// The two-column report list of the main dialog. Rows carry no data of their
// own: row i always shows entry i of the item table.
class ItemListView : public QTableWidget
{
    Q_OBJECT
public:
    explicit ItemListView(QWidget *parent = nullptr);

    // Grid lines, full-row selection and the two centred columns.
    void setupColumns();

    void refreshItemList(const ItemTable &table);
    // After entries a-1 and a were exchanged by a move up.
    void updateRowsAfterMoveUp(const ItemTable &table, int a);
    // After entries a and a+1 were exchanged by a move down.
    void updateRowsAfterMoveDown(const ItemTable &table, int a);

    // The first selected row after `after` (-1 to start), or -1.
    int nextSelectedRow(int after) const;

signals:
    // Enter pressed while the list has the focus.
    void enterPressed();
    // Delete pressed while the list has the focus.
    void deletePressed();
    // A left double click anywhere in the list, empty space below the rows
    // included, after the list has updated its selection.
    void listDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // Home or End on the row that already has the focus: selects it.
    bool selectsEdgeRowInPlace(QKeyEvent *event);
    void insertItemRow(const ItemTable &table, int row);
};

} // namespace sonaweld
