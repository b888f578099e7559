// Helpers for driving the real window: find widgets by object name, answer
// modal boxes from a timer, and read the simulated bridge's traffic.
#pragma once

#include "test_support.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QWidget>
#include <functional>

template <typename T> T *widget(QObject *root, const char *name) {
    T *w = root->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget named %s", name);
    return w;
}

// What a status indicator says, as the user reads it: "OK", "WARN", "FAIL", or
// "" while blank (its markup is the indicator's own business).
inline QString shown(const QLabel *indicator) {
    return QTextDocumentFragment::fromHtml(indicator->text()).toPlainText();
}

// What a modal box showed before the watcher closed it.
struct SeenBox {
    QString title;
    QString text;
};

// Each box as "title: text" (a dialog without text: its title alone).
inline QStringList said(const QList<SeenBox> &boxes) {
    QStringList out;
    for (const SeenBox &box : boxes)
        out << (box.text.isEmpty() ? box.title : box.title + ": " + box.text);
    return out;
}

// Watches for modal boxes while the code under test runs its own event loops,
// records each one and closes it (reject), so a test never hangs on a box.
class ModalWatcher : public QObject {
public:
    explicit ModalWatcher(std::function<void(QWidget *)> handle = {}) : handle(std::move(handle)) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }
    QList<SeenBox> seen;

private:
    void poll() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == last)
            return;
        last = modal;
        SeenBox box{modal->windowTitle(), QString()};
        if (auto *message = qobject_cast<QMessageBox *>(modal))
            box.text = message->text();
        seen << box;
        if (handle)
            handle(modal);
        else
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
    }
    std::function<void(QWidget *)> handle;
    QTimer timer;
    // Guarded: a box deleted and the next one made at the same address must
    // still count as a new one.
    QPointer<QWidget> last;
};

// The command bytes (1 to 3) of every report since the last clear, one per report.
inline QStringList reportHeads(const SimulatedBridge &bridge) {
    QStringList out;
    for (const std::vector<uint8_t> &r : bridge.reports())
        out << hex(std::vector<uint8_t>(r.begin() + 1, r.begin() + 4));
    return out;
}
