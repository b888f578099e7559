// The application object. A failure thrown as a text inside an event handler
// or slot cannot travel through Qt's event loop, so it is caught here, in the
// event dispatch: the first one is kept and the event loop is left.
#pragma once

#include <QApplication>

class PanelApplication : public QApplication {
    Q_OBJECT
public:
    PanelApplication(int &argc, char **argv);

    // The program's name, version, organisation (where QSettings keeps its
    // settings) and desktop entry; set once, before any application object.
    static void describeProgram();

    bool notify(QObject *receiver, QEvent *event) override;

    bool failed() const { return hasFailed; }
    QString failure() const { return failureText; }

private:
    void fail(const QString &text);

    bool hasFailed = false;
    QString failureText;
};
