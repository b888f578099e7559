// The placement follows QListView's list mode with uniform item sizes: row r's
// cell starts at spacing + r * (row height + 2 * spacing), spans the viewport's
// width (or the row's, if wider), and all rows have the size hint of the last row
// at the last layout. Scrolling per item counts rows, per pixel counts pixels.
// What QListView does without its own layout (the horizontal offset, model
// changes, selection regions, moving the cursor by one row) is left to it.
#include "widgets/log_view.h"

#include <QAbstractItemDelegate>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>

LogView::LogView(QWidget *parent) : QListView(parent) {
    QListView::setViewMode(ListMode);
    QListView::setFlow(TopToBottom);
    QListView::setWrapping(false);
    QListView::setGridSize(QSize());
    QListView::setItemAlignment(Qt::Alignment());
    QWidget::setLayoutDirection(Qt::LeftToRight);
    setUniformItemSizes(true);
}

int LogView::rows() const {
    const QAbstractItemModel *m = model();
    return m && m->columnCount(rootIndex()) > 0 ? m->rowCount(rootIndex()) : 0;
}

QModelIndex LogView::rowIndex(int row) const {
    return model()->index(row, modelColumn(), rootIndex());
}

bool LogView::enabled(int row) const {
    return model()->flags(rowIndex(row)) & Qt::ItemIsEnabled;
}

QSize LogView::contents() const {
    const int n = rows();
    if (n == 0 || !rowSize.isValid())
        return QSize(0, 0);
    return QSize(2 * spacing() + rowSize.width(), n * pitch());
}

QRect LogView::cellRect(int row) const {
    const int s = spacing();
    return QRect(s, s + row * pitch(), std::max(rowSize.width(), viewport()->width() - 2 * s),
                 rowSize.height());
}

std::pair<int, int> LogView::rowsIn(const QRect &rect) const {
    const QRect area = rect.normalized();
    const int n = rows();
    const int s = spacing();
    const int p = pitch();
    if (n == 0 || !rowSize.isValid() || p <= 0 || s > area.right() || n * p < area.top())
        return {0, -1};
    // The last row starting at or above the area's top, then every row starting
    // at or above its bottom.
    const int first = area.top() < s ? 0 : std::min(n - 1, (area.top() - s) / p);
    if (s + first * p > area.bottom())
        return {first, first - 1};
    return {first, std::min(n - 1, (area.bottom() - s) / p)};
}

QRect LogView::visualRect(const QModelIndex &index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return QRect();
    const_cast<LogView *>(this)->executeDelayedItemsLayout();
    if (!rowSize.isValid() || index.row() >= rows())
        return QRect();
    return cellRect(index.row()).translated(-horizontalOffset(), -verticalOffset());
}

QModelIndex LogView::indexAt(const QPoint &point) const {
    const_cast<LogView *>(this)->executeDelayedItemsLayout();
    const auto [first, last] =
        rowsIn(QRect(point.x() + horizontalOffset(), point.y() + verticalOffset(), 1, 1));
    if (last < first)
        return QModelIndex();
    const QModelIndex index = rowIndex(last);
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void LogView::doItemsLayout() {
    // Showing a scroll bar resizes the viewport; the state keeps that from
    // asking for another layout.
    const State old = state();
    setState(ExpandingState);
    setViewportMargins(viewportMargins()); // shows or hides the scroll bars now
    const int n = rows();
    rowSize = QSize();
    laidOutRows = n;
    if (n > 0) {
        const QModelIndex sample = rowIndex(n - 1);
        QStyleOptionViewItem option = viewOptions();
        option.rect = viewport()->rect();
        if (const QAbstractItemDelegate *delegate = itemDelegate(sample))
            rowSize = delegate->sizeHint(option, sample);
    }
    QAbstractItemView::doItemsLayout(); // the scroll bars and a repaint
    setState(old);
}

void LogView::updateGeometries() {
    QScrollBar *hbar = horizontalScrollBar();
    QScrollBar *vbar = verticalScrollBar();
    const int n = rows();
    if (geometry().isEmpty() || n <= 0 || !rowSize.isValid()) {
        hbar->setRange(0, 0);
        vbar->setRange(0, 0);
    } else {
        const int s = spacing();
        const QSize c = contents();
        const QSize port = viewport()->size();
        const QSize room = contentsRect().marginsRemoved(viewportMargins()).size();
        // With both bars shown as needed, a bar that only the other one's space
        // would call for stays hidden (else they would show and hide in turn).
        const bool bothAuto = verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded &&
                              horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded;
        const bool tall = c.height() > room.height();
        const bool wideNeeded = c.width() > room.width() - (tall ? vbar->width() : 0);
        hbar->setSingleStep(rowSize.width() + s);
        hbar->setPageStep(port.width());
        hbar->setRange(0, bothAuto && !wideNeeded ? 0 : c.width() - port.width());
        if (verticalScrollMode() == ScrollPerItem) {
            // The rows a page holds: all of them, or as many as fit whole.
            const int second = s + pitch(); // where the second row starts
            int pageRows = n + 1;
            if (c.height() > port.height())
                pageRows = second > 0 ? port.height() / second : 0;
            vbar->setSingleStep(1);
            vbar->setPageStep(pageRows);
            vbar->setRange(0, n - pageRows);
        } else {
            const bool tallNeeded =
                c.height() > room.height() - (c.width() > room.width() ? hbar->height() : 0);
            vbar->setSingleStep(rowSize.height() + s);
            vbar->setPageStep(port.height());
            vbar->setRange(0, bothAuto && !tallNeeded ? 0 : c.height() - port.height());
        }
    }
    QAbstractItemView::updateGeometries();
    setViewportMargins(viewportMargins()); // shows or hides the scroll bars now
    if (horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
        hbar->setRange(0, 0); // the rows are as wide as the viewport anyway
}

int LogView::verticalOffset() const {
    const int value = verticalScrollBar()->value();
    if (verticalScrollMode() == ScrollPerItem && rows() > 0 && rowSize.isValid())
        return value > rows() ? 0 : value * pitch();
    return value;
}

void LogView::scrollContentsBy(int dx, int dy) {
    const int n = rows();
    if (n == 0 || !rowSize.isValid())
        return;
    if (verticalScrollMode() == ScrollPerItem && dy != 0) { // rows into pixels
        const int now = std::clamp(verticalScrollBar()->value(), 0, n);
        dy = (std::clamp(now + dy, 0, n) - now) * pitch();
    }
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

void LogView::scrollTo(const QModelIndex &index, ScrollHint hint) {
    const QRect rect = visualRect(index);
    const QRect area = viewport()->rect();
    if (!rect.isValid() || (hint == EnsureVisible && area.contains(rect))) {
        viewport()->update(rect);
        return;
    }
    if (hint == EnsureVisible && rect.top() < area.top())
        hint = PositionAtTop;
    else if (hint == EnsureVisible && rect.bottom() > area.bottom())
        hint = PositionAtBottom;
    const int s = spacing();
    int value = verticalScrollBar()->value();
    if (verticalScrollMode() == ScrollPerItem) {
        // How many rows, ending with this one, fit in the viewport.
        const int row = index.row();
        const int p = pitch();
        const int fit = p > 0 ? std::max(0, (area.height() - rect.height() - s) / p) : 0;
        const int count = std::min(row, fit) + 1;
        if (hint == PositionAtTop)
            value = row;
        else if (hint == PositionAtBottom)
            value = row - count + 1;
        else if (hint == PositionAtCenter)
            value = row - count / 2;
    } else {
        const QRect cell = rect.adjusted(-s, -s, s, s);
        if (hint == PositionAtTop)
            value += cell.top();
        else if (hint == PositionAtBottom)
            value += std::min(cell.top(), cell.bottom() - area.height() + 1);
        else if (hint == PositionAtCenter)
            value += cell.top() - (area.height() - cell.height()) / 2;
    }
    verticalScrollBar()->setValue(value);
}

QModelIndex LogView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    const QModelIndex current = currentIndex();
    const bool up = cursorAction == MovePageUp;
    if (!current.isValid() || !(up || cursorAction == MovePageDown || cursorAction == MoveEnd ||
                                cursorAction == MoveLeft || cursorAction == MoveRight))
        return QListView::moveCursor(cursorAction, modifiers); // needs no layout
    executeDelayedItemsLayout();
    QRect rect = rowSize.isValid() ? cellRect(current.row()) : QRect();
    if (rect.isEmpty())
        return rowIndex(0);
    if (cursorAction == MoveEnd)
        return rowIndex(rows() - 1);
    if (!up && cursorAction != MovePageDown)
        return current; // left and right: the rows span the width, nothing is beside them
    // A page less one row away, then row by row on to the nearest enabled row.
    const int height = contents().height();
    const int step = up ? -rect.height() : rect.height();
    rect.translate(0, up ? 2 * rect.height() - viewport()->height()
                         : viewport()->height() - 2 * rect.height());
    if (up && rect.top() < rect.height())
        rect.moveTop(rect.height());
    if (!up && rect.bottom() > height - rect.height())
        rect.moveBottom(height - rect.height());
    for (;;) {
        rect.translate(0, step);
        if (up ? rect.bottom() <= 0 : rect.top() >= height)
            return current;
        const auto [first, last] = rowsIn(rect);
        int nearest = -1;
        for (int row = first; row <= last; ++row) {
            if (row != current.row() && enabled(row) &&
                (nearest < 0 || std::abs(row - current.row()) < std::abs(nearest - current.row())))
                nearest = row;
        }
        if (nearest >= 0)
            return rowIndex(nearest);
    }
}

void LogView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel())
        return;
    const QPoint offset(horizontalOffset(), verticalOffset());
    auto rowAt = [&](const QPoint &point) {
        const auto [first, last] = rowsIn(QRect(point + offset, QSize(1, 1)));
        return last >= first && enabled(last) ? last : -1;
    };
    int first = -1;
    int last = -1;
    if (rect.width() == 1 && rect.height() == 1) { // a click: the row under it
        first = last = rowAt(rect.topLeft());
    } else if (state() == DragSelectingState) { // every row the rectangle reaches
        std::tie(first, last) = rowsIn(rect.translated(offset));
    } else { // from the row at one corner to the row at the other
        first = rowAt(rect.topLeft());
        last = rowAt(rect.bottomRight());
        if (first > last)
            std::swap(first, last);
    }
    QItemSelection selection;
    if (first >= 0 && last >= first)
        selection.select(rowIndex(first), rowIndex(last));
    selectionModel()->select(selection, command);
}

void LogView::paintEvent(QPaintEvent *event) {
    if (!itemDelegate())
        return;
    QStyleOptionViewItem option = viewOptions();
    QPainter painter(viewport());
    // The rows of the last layout, as QListView paints: laying out here would ask
    // for another paint, and a pending layout repaints anyway.
    const QPoint offset(horizontalOffset(), verticalOffset());
    const auto [first, lastRow] = rowsIn(event->rect().translated(offset));
    const int last = std::min(lastRow, laidOutRows - 1);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QStyle::State viewState = option.state;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = rowIndex(row);
        option.rect = cellRect(row).translated(-offset);
        option.state = viewState;
        option.state.setFlag(QStyle::State_Selected, selectionModel()->isSelected(index));
        if (viewState & QStyle::State_Enabled) {
            const bool on = enabled(row);
            option.state.setFlag(QStyle::State_Enabled, on);
            option.palette.setCurrentColorGroup(on ? QPalette::Normal : QPalette::Disabled);
        }
        if (focus && current == index) {
            option.state |= QStyle::State_HasFocus;
            if (state() == EditingState)
                option.state |= QStyle::State_Editing;
        }
        option.state.setFlag(QStyle::State_MouseOver, index == hovered);
        if (alternatingRowColors()) {
            // The row's background; the delegate draws the rest.
            option.features.setFlag(QStyleOptionViewItem::Alternate, (row & 1) != 0);
            const QStyle::State withSelection = option.state;
            option.state &= ~QStyle::State_Selected;
            style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
            option.state = withSelection;
        }
        itemDelegate(index)->paint(&painter, option, index);
    }
}

bool LogView::viewportEvent(QEvent *event) {
    // The row under the mouse, drawn as hovered; the base class repaints it.
    if (event->type() == QEvent::HoverMove || event->type() == QEvent::HoverEnter)
        hovered = indexAt(static_cast<QHoverEvent *>(event)->pos());
    else if (event->type() == QEvent::HoverLeave || event->type() == QEvent::Leave)
        hovered = QPersistentModelIndex();
    return QListView::viewportEvent(event);
}

// QListView names rows to accessibility by its own layout, which this view does
// not make; here a row's number is its place.
void LogView::announce(QAccessible::Event type, const QModelIndex &index) {
    if (!QAccessible::isActive() || !index.isValid())
        return;
    QAccessibleEvent event(this, type);
    event.setChild(index.row());
    QAccessible::updateAccessibility(&event);
}

void LogView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    announce(QAccessible::Focus, current);
    QAbstractItemView::currentChanged(current, previous);
}

void LogView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) {
    announce(QAccessible::SelectionAdd, selected.value(0).topLeft());
    announce(QAccessible::SelectionRemove, deselected.value(0).topLeft());
    QAbstractItemView::selectionChanged(selected, deselected);
}
