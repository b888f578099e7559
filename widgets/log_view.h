// A list view for a long activity log. It looks and behaves as a QListView in
// list mode with uniform item sizes (rows top to bottom, no wrapping, every row
// as large as the last one), but it places a row by its number instead of laying
// out every row again whenever the model changes. QListView lays out all rows
// after each insertion, so appending lines to a log of a million rows cost tens
// of milliseconds each time; here it costs the same as in a short log.
//
// The constructor fixes what that placement assumes: list mode, top-to-bottom
// flow, no wrapping, no grid size, no item alignment, uniform item sizes, left
// to right. The setters that would change them are deleted here; reached through
// QListView (or a property), they are not supported: the view goes on placing
// rows as a list. Hidden rows are not supported either (a log hides none).
// Spacing, both scroll modes and the selection modes are.
#pragma once

#include <QAccessible>
#include <QListView>
#include <QPersistentModelIndex>

class LogView : public QListView {
    Q_OBJECT
public:
    explicit LogView(QWidget *parent = nullptr);

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void doItemsLayout() override;

    void setViewMode(ViewMode) = delete;
    void setFlow(Flow) = delete;
    void setWrapping(bool) = delete;
    void setGridSize(const QSize &) = delete;
    void setItemAlignment(Qt::Alignment) = delete;
    void setRowHidden(int, bool) = delete;
    void setLayoutDirection(Qt::LayoutDirection) = delete;

protected:
    void updateGeometries() override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    int verticalOffset() const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;

private:
    int rows() const;
    QModelIndex rowIndex(int row) const;
    bool enabled(int row) const;
    // The distance from one row's top to the next one's: spacing above and below.
    int pitch() const { return rowSize.height() + 2 * spacing(); }
    QSize contents() const;
    // A row's cell in contents coordinates.
    QRect cellRect(int row) const;
    // The first and last rows that a rectangle in contents coordinates reaches,
    // chosen as QListView does (last < first: none).
    std::pair<int, int> rowsIn(const QRect &area) const;
    void announce(QAccessible::Event event, const QModelIndex &index);

    QSize rowSize; // every row's size: the last row's size hint at the last layout
    int laidOutRows = 0;
    QPersistentModelIndex hovered;
};
