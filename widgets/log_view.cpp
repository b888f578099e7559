// The placement follows QListView's list mode with uniform item sizes: row r's
// cell starts at spacing + r * (row height + 2 * spacing), spans the viewport's width
// (or the row's, if wider), and all rows have the size hint of the last row at
// the last layout. Scrolling per item counts rows, per pixel counts pixels.
#include "widgets/log_view.h"

#include <QAbstractItemDelegate>
#include <QAccessible>
#include <QEvent>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cstdlib>

LogView::LogView(QWidget *parent) : QListView(parent) {
    setUniformItemSizes(true);
}

bool LogView::computed() const {
    return viewMode() == ListMode && flow() == TopToBottom && !isWrapping() &&
           !gridSize().isValid() && itemAlignment() == Qt::Alignment() && uniformItemSizes();
}

int LogView::rows() const {
    const QAbstractItemModel *m = model();
    if (!m || m->columnCount(rootIndex()) <= 0)
        return 0;
    return m->rowCount(rootIndex());
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
    QRect cell(s, s + row * pitch(), std::max(rowSize.width(), viewport()->width() - 2 * s),
               rowSize.height());
    if (isRightToLeft())
        cell.moveLeft(std::max(viewport()->width(), contents().width()) - cell.x() - cell.width());
    return cell;
}

std::pair<int, int> LogView::rowsIn(const QRect &rect) const {
    QRect area = rect.normalized();
    if (isRightToLeft())
        area.moveLeft(std::max(viewport()->width(), contents().width()) - area.x() - area.width());
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
    if (!computed())
        return QListView::visualRect(index);
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return QRect();
    const_cast<LogView *>(this)->executeDelayedItemsLayout();
    if (!rowSize.isValid() || index.row() >= rows())
        return QRect();
    return rowVisualRect(index.row());
}

QRect LogView::rowVisualRect(int row) const {
    const QRect cell = cellRect(row);
    if (!cell.isValid())
        return cell;
    // As wide as the viewport or the contents, whichever is wider.
    const int s = spacing();
    const int width =
        std::max(cell.width(), std::max(contents().width(), viewport()->width()) - 2 * s);
    return QRect(s, cell.y(), width, cell.height())
        .translated(-horizontalOffset(), -verticalOffset());
}

QModelIndex LogView::indexAt(const QPoint &point) const {
    if (!computed())
        return QListView::indexAt(point);
    const_cast<LogView *>(this)->executeDelayedItemsLayout();
    const auto [first, last] =
        rowsIn(QRect(point.x() + horizontalOffset(), point.y() + verticalOffset(), 1, 1));
    if (last < first)
        return QModelIndex();
    const QModelIndex index = rowIndex(last);
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void LogView::doItemsLayout() {
    if (!computed()) {
        QListView::doItemsLayout();
        return;
    }
    // Showing a scroll bar resizes the viewport; the state keeps that from
    // asking for another layout.
    const State old = state();
    setState(ExpandingState);
    layoutScrollBars();
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

void LogView::rowsInserted(const QModelIndex &parent, int start, int end) {
    if (!computed()) {
        QListView::rowsInserted(parent, start, end);
        return;
    }
    // Only the scroll bars and the row size change: one layout after a burst of
    // rows, costing the same however many rows there are.
    scheduleDelayedItemsLayout();
    QAbstractItemView::rowsInserted(parent, start, end);
}

void LogView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) {
    if (!computed()) {
        QListView::rowsAboutToBeRemoved(parent, start, end);
        return;
    }
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    scheduleDelayedItemsLayout();
}

void LogView::updateGeometries() {
    if (!computed()) {
        QListView::updateGeometries();
        return;
    }
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

        hbar->setSingleStep(rowSize.width() + s);
        hbar->setPageStep(port.width());
        const bool tall = c.height() > room.height();
        const bool wideNeeded = c.width() > room.width() - (tall ? vbar->width() : 0);
        hbar->setRange(0, bothAuto && !wideNeeded ? 0 : c.width() - port.width());

        if (verticalScrollMode() == ScrollPerItem) {
            int pageRows = n + 1;
            if (c.height() > port.height()) {
                const int second = s + pitch(); // where the second row starts
                pageRows = second > 0 ? port.height() / second : 0;
            }
            vbar->setSingleStep(1);
            vbar->setPageStep(pageRows);
            vbar->setRange(0, n - pageRows);
        } else {
            vbar->setSingleStep(rowSize.height() + s);
            vbar->setPageStep(port.height());
            const bool wide = c.width() > room.width();
            const bool tallNeeded = c.height() > room.height() - (wide ? hbar->height() : 0);
            vbar->setRange(0, bothAuto && !tallNeeded ? 0 : c.height() - port.height());
        }
    }
    QAbstractItemView::updateGeometries();
    layoutScrollBars();
    if (horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
        hbar->setRange(0, 0); // the rows are as wide as the viewport anyway
}

int LogView::horizontalOffset() const {
    if (!computed())
        return QListView::horizontalOffset();
    const QScrollBar *hbar = horizontalScrollBar();
    return isRightToLeft() ? hbar->maximum() - hbar->value() : hbar->value();
}

int LogView::verticalOffset() const {
    if (!computed())
        return QListView::verticalOffset();
    const int value = verticalScrollBar()->value();
    if (verticalScrollMode() == ScrollPerItem && rows() > 0 && rowSize.isValid())
        return value > rows() ? 0 : value * pitch();
    return value;
}

void LogView::scrollContentsBy(int dx, int dy) {
    if (!computed()) {
        QListView::scrollContentsBy(dx, dy);
        return;
    }
    const int n = rows();
    if (n == 0 || !rowSize.isValid())
        return;
    if (verticalScrollMode() == ScrollPerItem && dy != 0) { // rows into pixels
        const int now = std::clamp(verticalScrollBar()->value(), 0, n);
        const int before = std::clamp(now + dy, 0, n);
        dy = (before - now) * pitch();
    }
    if (isRightToLeft())
        dx = -dx;
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

void LogView::scrollTo(const QModelIndex &index, ScrollHint hint) {
    if (!computed()) {
        QListView::scrollTo(index, hint);
        return;
    }
    if (index.parent() != rootIndex() || index.column() != modelColumn())
        return;
    const QRect rect = visualRect(index);
    if (!rect.isValid())
        return;
    if (hint == EnsureVisible && viewport()->rect().contains(rect)) {
        viewport()->update(rect);
        return;
    }
    verticalScrollBar()->setValue(verticalScrollValue(index.row(), hint, rect));
}

int LogView::verticalScrollValue(int row, ScrollHint hint, const QRect &rect) const {
    const QRect area = viewport()->rect();
    const bool above = hint == EnsureVisible && rect.top() < area.top();
    const bool below = hint == EnsureVisible && rect.bottom() > area.bottom();
    const int s = spacing();
    if (verticalScrollMode() == ScrollPerItem) {
        const int n = rows();
        const int value = n == 0 ? 0 : std::clamp(verticalScrollBar()->value(), 0, n);
        if (above)
            hint = PositionAtTop;
        else if (below)
            hint = PositionAtBottom;
        if (hint == EnsureVisible || row < 0)
            return value;
        // How many rows, ending with this one, fit in the viewport.
        const int extent = rect.height() + s;
        int top = row;
        while (pitch() > 0 && top > 0 && (row - top + 1) * pitch() + extent <= area.height())
            --top;
        const int count = row - top + 1;
        switch (hint) {
        case PositionAtTop:
            return row;
        case PositionAtBottom:
            return row - count + 1;
        case PositionAtCenter:
            return row - count / 2;
        default:
            return value;
        }
    }
    int value = verticalScrollBar()->value();
    const QRect adjusted = rect.adjusted(-s, -s, s, s);
    if (hint == PositionAtTop || above)
        value += adjusted.top();
    else if (hint == PositionAtBottom || below)
        value += std::min(adjusted.top(), adjusted.bottom() - area.height() + 1);
    else if (hint == PositionAtCenter)
        value += adjusted.top() - ((area.height() - adjusted.height()) / 2);
    return value;
}

QModelIndex LogView::closest(const QRect &target, int first, int last, int skipped) const {
    int shortest = INT_MAX;
    QModelIndex found;
    for (int row = first; row <= last; ++row) {
        if (row == skipped || !enabled(row))
            continue;
        const QRect rect = cellRect(row);
        int distance;
        if ((target.center().x() >= rect.x() && target.center().x() < rect.right()) ||
            (rect.center().x() >= target.x() && rect.center().x() < target.right()))
            distance = std::abs(rect.center().y() - target.center().y());
        else if ((target.center().y() >= rect.y() && target.center().y() < rect.bottom()) ||
                 (rect.center().y() >= target.y() && rect.center().y() < target.bottom()))
            distance = std::abs(rect.center().x() - target.center().x());
        else
            distance = (rect.center() - target.center()).manhattanLength();
        if (distance < shortest) {
            shortest = distance;
            found = rowIndex(row);
        }
    }
    return found;
}

QModelIndex LogView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    if (!computed())
        return QListView::moveCursor(cursorAction, modifiers);
    const int n = rows();
    auto backward = [this](int row) {
        while (row >= 0 && !enabled(row))
            --row;
        return row;
    };
    auto forward = [this, n](int row) {
        while (row < n && !enabled(row))
            ++row;
        return row >= n ? -1 : row;
    };
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        const int row = forward(0);
        return row < 0 ? QModelIndex() : rowIndex(row);
    }
    if (cursorAction == MoveUp || cursorAction == MovePrevious) {
        const int row = backward(current.row() - 1);
        return row < 0 ? current : rowIndex(row);
    }
    if (cursorAction == MoveDown || cursorAction == MoveNext) {
        const int row = forward(current.row() + 1);
        return row < 0 ? current : rowIndex(row);
    }

    executeDelayedItemsLayout();
    const QRect initial = rowSize.isValid() ? cellRect(current.row()) : QRect();
    if (initial.isEmpty())
        return rowIndex(0);
    QRect rect = initial;
    const int height = contents().height();
    switch (cursorAction) {
    case MovePageUp: // by the rows a page shows, less one
        rect.moveTop(rect.top() - viewport()->height() + 2 * rect.height());
        if (rect.top() < rect.height())
            rect.moveTop(rect.height());
        for (;;) {
            rect.translate(0, -rect.height());
            if (rect.bottom() <= 0)
                return current;
            if (rect.top() < 0)
                rect.setTop(0);
            const auto [first, last] = rowsIn(rect);
            const QModelIndex found = closest(initial, first, last, current.row());
            if (found.isValid())
                return found;
        }
    case MovePageDown:
        rect.moveTop(rect.top() + viewport()->height() - 2 * rect.height());
        if (rect.bottom() > height - rect.height())
            rect.moveBottom(height - rect.height());
        for (;;) {
            rect.translate(0, rect.height());
            if (rect.top() >= height)
                return current;
            if (rect.bottom() > height)
                rect.setBottom(height);
            const auto [first, last] = rowsIn(rect);
            const QModelIndex found = closest(initial, first, last, current.row());
            if (found.isValid())
                return found;
        }
    case MoveHome:
        return rowIndex(0);
    case MoveEnd:
        return rowIndex(n - 1);
    default: // left and right: the rows span the width, there is nothing beside them
        return current;
    }
}

void LogView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) {
    if (!computed()) {
        QListView::setSelection(rect, command);
        return;
    }
    if (!selectionModel())
        return;
    QItemSelection selection;
    const QPoint offset(horizontalOffset(), verticalOffset());
    if (rect.width() == 1 && rect.height() == 1) { // a click: the row under it
        const auto [first, last] = rowsIn(rect.translated(offset));
        if (last >= first && enabled(last))
            selection.select(rowIndex(last), rowIndex(last));
    } else if (state() == DragSelectingState) { // every row the rectangle reaches
        const auto [first, last] = rowsIn(rect.translated(offset));
        if (last >= first)
            selection.select(rowIndex(first), rowIndex(last));
    } else { // from the row at one corner to the row at the other
        const auto [topFirst, top] = rowsIn(QRect(rect.topLeft() + offset, QSize(1, 1)));
        const auto [bottomFirst, bottom] = rowsIn(QRect(rect.bottomRight() + offset, QSize(1, 1)));
        if (top >= topFirst && bottom >= bottomFirst && enabled(top) && enabled(bottom))
            selection.select(rowIndex(std::min(top, bottom)), rowIndex(std::max(top, bottom)));
    }
    selectionModel()->select(selection, command);
}

QRegion LogView::visualRegionForSelection(const QItemSelection &selection) const {
    if (!computed())
        return QListView::visualRegionForSelection(selection);
    QRegion region;
    const QRect port = viewport()->rect();
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const QRect rect(visualRect(rowIndex(range.top())).topLeft(),
                         visualRect(rowIndex(range.bottom())).bottomRight());
        if (port.intersects(rect))
            region += rect;
    }
    return region;
}

void LogView::paintEvent(QPaintEvent *event) {
    if (!computed()) {
        QListView::paintEvent(event);
        return;
    }
    if (!itemDelegate())
        return;
    QStyleOptionViewItem option = viewOptions();
    QPainter painter(viewport());
    // The rows of the last layout, as QListView paints: laying out here would ask
    // for another paint, and a pending layout repaints anyway.
    const auto [first, lastRow] =
        rowsIn(event->rect().translated(horizontalOffset(), verticalOffset()));
    const int last = std::min(lastRow, laidOutRows - 1);
    const QModelIndex current = currentIndex();
    const QItemSelectionModel *selections = selectionModel();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QStyle::State viewState = option.state;
    const bool viewEnabled = viewState & QStyle::State_Enabled;
    const int maxWidth = std::max(viewport()->width(), contents().width()) - 2 * spacing();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = rowIndex(row);
        if (!index.isValid())
            continue;
        option.rect = rowVisualRect(row);
        option.rect.setWidth(std::min(maxWidth, option.rect.width()));
        option.state = viewState;
        if (selections && selections->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (viewEnabled) {
            QPalette::ColorGroup group = QPalette::Normal;
            if (!(model()->flags(index) & Qt::ItemIsEnabled)) {
                option.state &= ~QStyle::State_Enabled;
                group = QPalette::Disabled;
            }
            option.palette.setCurrentColorGroup(group);
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
    switch (event->type()) {
    case QEvent::HoverMove:
    case QEvent::HoverEnter:
        hovered = indexAt(static_cast<QHoverEvent *>(event)->pos());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        hovered = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QListView::viewportEvent(event);
}

void LogView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    if (!computed()) {
        QListView::currentChanged(current, previous);
        return;
    }
#ifndef QT_NO_ACCESSIBILITY
    if (QAccessible::isActive() && current.isValid()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current.row());
        QAccessible::updateAccessibility(&event);
    }
#endif
    QAbstractItemView::currentChanged(current, previous);
}

void LogView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) {
    if (!computed()) {
        QListView::selectionChanged(selected, deselected);
        return;
    }
#ifndef QT_NO_ACCESSIBILITY
    if (QAccessible::isActive()) {
        const QModelIndex added = selected.indexes().value(0);
        if (added.isValid()) {
            QAccessibleEvent event(this, QAccessible::SelectionAdd);
            event.setChild(added.row());
            QAccessible::updateAccessibility(&event);
        }
        const QModelIndex removed = deselected.indexes().value(0);
        if (removed.isValid()) {
            QAccessibleEvent event(this, QAccessible::SelectionRemove);
            event.setChild(removed.row());
            QAccessible::updateAccessibility(&event);
        }
    }
#endif
    QAbstractItemView::selectionChanged(selected, deselected);
}
