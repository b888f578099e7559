// A list view for a long activity log. It is a QListView and looks and behaves
// as one in list mode with uniform item sizes (rows top to bottom, no wrapping,
// every row as large as the last one), but it places a row by its number instead
// of laying out every row again whenever the model changes. QListView lays out
// all rows after each insertion, so appending lines to a log of a million rows
// cost tens of milliseconds each time; here it costs the same as in a short log.
//
// The computed placement covers list mode, top-to-bottom flow without wrapping,
// no grid size and no item alignment; any other setting falls back to QListView's
// own layout. Rows are never hidden in a log, so setRowHidden() is not supported.
#pragma once

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

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void updateGeometries() override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;

private:
    // Whether the settings are those whose placement this view computes.
    bool computed() const;
    int rows() const;
    QModelIndex rowIndex(int row) const;
    bool enabled(int row) const;
    // The distance from one row's top to the next one's: spacing above and below.
    int pitch() const { return rowSize.height() + 2 * spacing(); }
    // Shows or hides the scroll bars and sizes the viewport now.
    void layoutScrollBars() { setViewportMargins(viewportMargins()); }
    QSize contents() const;
    // A row's cell in contents coordinates, and its place in the viewport.
    QRect cellRect(int row) const;
    QRect rowVisualRect(int row) const;
    // The first and last rows that a rectangle in contents coordinates reaches,
    // chosen as QListView does (last < first: none).
    std::pair<int, int> rowsIn(const QRect &area) const;
    QModelIndex closest(const QRect &target, int first, int last, int skipped) const;
    int verticalScrollValue(int row, ScrollHint hint, const QRect &rect) const;

    QSize rowSize; // every row's size: the last row's size hint at the last layout
    int laidOutRows = 0;
    QPersistentModelIndex hovered;
};
