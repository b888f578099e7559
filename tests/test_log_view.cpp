// The widgets. LogView against QListView: on the same model, at the same size,
// with uniform item sizes, both must draw the same pixels, place the same rows,
// scroll the same way and move the cursor and the selection alike; LogView only
// gets there without laying out every row. The OK/WARN/FAIL label: exact rich
// texts, precedence, clearing and repaints.
#include "widgets/log_view.h"
#include "widgets/status_indicator.h"

#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QtTest>

namespace {

QStringList logLines(int count, int from = 0) {
    QStringList lines;
    for (int i = from; i < from + count; ++i)
        lines << QString("I2C Write, Addr 0x11 => [ 0x%1 0x01 %2]")
                     .arg(i % 256, 2, 16, QChar('0'))
                     .arg(QString(i % 7, QChar('x')));
    return lines;
}

// Reaches the views' protected moveCursor() and verticalOffset() through
// member pointers taken in a derived class (legal, and dispatched virtually).
class Access : public QListView {
public:
    using QAbstractItemView::CursorAction;
    static std::vector<CursorAction> actions() {
        return {MoveUp,       MoveDown, MoveLeft, MoveRight, MovePageUp,
                MovePageDown, MoveHome, MoveEnd,  MoveNext,  MovePrevious};
    }
    static QModelIndex move(QListView *view, CursorAction action) {
        auto moveCursor = &Access::moveCursor;
        return (view->*moveCursor)(action, Qt::NoModifier);
    }
    static int offset(QListView *view) {
        auto verticalOffset = &Access::verticalOffset;
        return (view->*verticalOffset)();
    }
};

struct Pair {
    QStringListModel model;
    QListView plain;
    LogView log;

    explicit Pair(int rows) {
        model.setStringList(logLines(rows));
        for (QListView *view : views()) {
            view->setUniformItemSizes(true);
            view->setFont(QFont("Courier New"));
            view->setModel(&model);
            view->resize(420, 230);
            view->show();
        }
        settle();
    }
    std::array<QListView *, 2> views() { return {&plain, &log}; }
    void settle() {
        for (QListView *view : views())
            QVERIFY(QTest::qWaitForWindowExposed(view));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void setScroll(int value) {
        for (QListView *view : views())
            view->verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }
};

#define SAME(expression)                                                                           \
    do {                                                                                           \
        QListView *view = &p.plain;                                                                \
        const auto expected = (expression);                                                        \
        view = &p.log;                                                                             \
        QCOMPARE((expression), expected);                                                          \
    } while (false)

void compareAll(Pair &p, const char *where) {
    qInfo("%s", where);
    SAME(view->verticalScrollBar()->minimum());
    SAME(view->verticalScrollBar()->maximum());
    SAME(view->verticalScrollBar()->pageStep());
    SAME(view->verticalScrollBar()->singleStep());
    SAME(view->horizontalScrollBar()->maximum());
    SAME(view->horizontalScrollBar()->pageStep());
    SAME(view->horizontalScrollBar()->singleStep());
    SAME(view->horizontalScrollBar()->isVisible());
    SAME(view->verticalScrollBar()->isVisible());
    SAME(view->viewport()->size());
    SAME(Access::offset(view));
    const int rows = p.model.rowCount();
    for (int row : {0, 1, 2, 7, rows / 2, rows - 2, rows - 1, rows}) {
        SAME(view->visualRect(p.model.index(row)));
    }
    for (int y = -3; y < p.plain.viewport()->height() + 20; y += 5)
        for (int x : {-2, 0, 3, 150, 410})
            SAME(view->indexAt(QPoint(x, y)));
    SAME(view->grab().toImage());
}

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void placesAndDrawsAsQListView_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("perPixel");
        QTest::addColumn<int>("spacing");
        QTest::newRow("empty") << 0 << false << 0;
        QTest::newRow("few rows") << 3 << false << 0;
        QTest::newRow("per item") << 300 << false << 0;
        QTest::newRow("per pixel") << 300 << true << 0;
        QTest::newRow("spacing") << 300 << false << 3;
        QTest::newRow("spacing per pixel") << 300 << true << 2;
    }
    void placesAndDrawsAsQListView() {
        QFETCH(int, rows);
        QFETCH(bool, perPixel);
        QFETCH(int, spacing);
        Pair p(rows);
        for (QListView *view : p.views()) {
            view->setVerticalScrollMode(perPixel ? QAbstractItemView::ScrollPerPixel
                                                 : QAbstractItemView::ScrollPerItem);
            view->setSpacing(spacing);
        }
        p.settle();
        compareAll(p, "at the top");
        p.setScroll(p.plain.verticalScrollBar()->maximum() / 2);
        compareAll(p, "halfway");
        p.setScroll(p.plain.verticalScrollBar()->maximum());
        compareAll(p, "at the bottom");

        // Rows appended one by one, as the log grows, then a longer last row.
        for (const QString &line : logLines(40, rows)) {
            const int row = p.model.rowCount();
            p.model.insertRows(row, 1);
            p.model.setData(p.model.index(row), line);
        }
        QCoreApplication::processEvents();
        compareAll(p, "after appending");
        const int row = p.model.rowCount();
        p.model.insertRows(row, 1);
        p.model.setData(p.model.index(row), QString(70, 'w'));
        QCoreApplication::processEvents();
        compareAll(p, "after a wide row");
        for (QListView *view : p.views())
            view->horizontalScrollBar()->setValue(40);
        QCoreApplication::processEvents();
        compareAll(p, "scrolled sideways");

        p.model.setStringList(QStringList());
        QCoreApplication::processEvents();
        compareAll(p, "cleared");
    }

    void movesTheCursorAsQListView() {
        Pair p(200);
        for (QAbstractItemView::ScrollMode mode :
             {QAbstractItemView::ScrollPerItem, QAbstractItemView::ScrollPerPixel}) {
            for (QListView *view : p.views())
                view->setVerticalScrollMode(mode);
            p.settle();
            for (int start : {-1, 0, 1, 5, 17, 100, 198, 199}) {
                for (Access::CursorAction action : Access::actions()) {
                    for (QListView *view : p.views())
                        view->setCurrentIndex(p.model.index(start));
                    SAME(Access::move(view, action));
                }
            }
        }
    }

    void scrollsToRowsAsQListView() {
        Pair p(200);
        for (QAbstractItemView::ScrollMode mode :
             {QAbstractItemView::ScrollPerItem, QAbstractItemView::ScrollPerPixel}) {
            for (QListView *view : p.views())
                view->setVerticalScrollMode(mode);
            p.settle();
            for (int row : {0, 3, 50, 120, 199}) {
                for (QAbstractItemView::ScrollHint hint :
                     {QAbstractItemView::EnsureVisible, QAbstractItemView::PositionAtTop,
                      QAbstractItemView::PositionAtBottom, QAbstractItemView::PositionAtCenter}) {
                    p.setScroll(60);
                    for (QListView *view : p.views())
                        view->scrollTo(p.model.index(row), hint);
                    SAME(view->verticalScrollBar()->value());
                }
            }
            compareAll(p, "after scrolling to a row");
        }
    }

    void selectsWithMouseAndKeysAsQListView() {
        Pair p(120);
        p.setScroll(30);
        struct Seen {
            QModelIndexList selected;
            QModelIndex current;
            int scroll;
            QImage image;
        };
        std::vector<Seen> seen;
        for (QListView *view : p.views()) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
            QApplication::setActiveWindow(view);
            view->setFocus();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 40));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(60, 150));
            QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
            QTest::keyClick(view, Qt::Key_PageDown);
            QTest::keyClick(view, Qt::Key_Up, Qt::ShiftModifier);
            QCoreApplication::processEvents();
            QVERIFY(view->hasFocus());
            seen.push_back({view->selectionModel()->selectedRows(), view->currentIndex(),
                            view->verticalScrollBar()->value(), view->grab().toImage()});
        }
        for (Seen &s : seen) // the same rows; the ranges may be split differently
            std::sort(s.selected.begin(), s.selected.end());
        QCOMPARE(seen[1].selected, seen[0].selected);
        QCOMPARE(seen[0].selected.size(), 2);
        QCOMPARE(seen[1].current, seen[0].current);
        QCOMPARE(seen[1].scroll, seen[0].scroll);
        QCOMPARE(seen[1].image, seen[0].image);
    }
    void precedenceAndClearing() {
        const QString fail = "<div style='color:red;'><b>FAIL</b></div>";
        const QString warn = "<div style='color:orange;'><b>WARN</b></div>";
        const QString ok = "<div style='color:green;'>OK</div>";
        StatusIndicator indicator;
        QCOMPARE(indicator.text(), QString());
        indicator.setFail(0);
        QCOMPARE(indicator.text(), ok);
        indicator.setWarn(5);
        QCOMPARE(indicator.text(), warn);
        indicator.setFail(1);
        QCOMPARE(indicator.text(), fail);
        indicator.setWarn(-1); // not set: signed comparison
        QCOMPARE(indicator.text(), fail);
        indicator.setWarn(1);
        indicator.setFail(0);
        QCOMPARE(indicator.text(), warn);
        indicator.setWarn(0);
        QCOMPARE(indicator.text(), ok);

        indicator.setFail(1);
        indicator.clear();
        QCOMPARE(indicator.text(), QString());
        indicator.update();
        QCOMPARE(indicator.text(), ok);
        indicator.setWarn(1);
        indicator.clear();
        indicator.setWarn(0);
        QCOMPARE(indicator.text(), ok);
        QCOMPARE(indicator.textFormat(), Qt::AutoText);
    }

    // Polling sets the same flags four times a second: that must not repaint
    // the label (nor, as it is not opaque, the window behind it); a change must.
    void repaintsOnlyWhatChanged() {
        struct Paints : QObject {
            int count = 0;
            bool eventFilter(QObject *, QEvent *event) override {
                count += event->type() == QEvent::Paint;
                return false;
            }
        } paints;
        StatusIndicator indicator;
        indicator.setWarn(0);
        indicator.show();
        QVERIFY(QTest::qWaitForWindowExposed(&indicator));
        indicator.installEventFilter(&paints);
        for (int i = 0; i < 5; ++i) // the first paints after showing
            QCoreApplication::processEvents();
        paints.count = 0;
        for (int tick = 0; tick < 5; ++tick) {
            indicator.setWarn(0);
            indicator.setFail(0);
            QCoreApplication::processEvents();
        }
        QCOMPARE(paints.count, 0);
        indicator.setFail(1);
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 1);
        indicator.update(); // the slot still repaints on request
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 2);
    }
};

QTEST_MAIN(LogViewTest)
#include "test_log_view.moc"
