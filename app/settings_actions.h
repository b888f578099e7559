// Settings files (File > Save settings..., Load settings...): the configuration
// file of `qm44xx-ctl save` and `load`, through the same reader, writer and
// checks. Save writes the chip's settings as read afresh; load checks the whole
// file against the identified chip before anything is sent, then applies it in
// one commit and shows it in the window's controls.
#pragma once

#include <QObject>
#include <QString>

class MainWindow;

class SettingsActions : public QObject {
    Q_OBJECT
public:
    explicit SettingsActions(MainWindow *window);

    // "" on success, else the reason, naming the file and, for a refused file,
    // its line.
    QString save(const QString &path);
    QString load(const QString &path);

public Q_SLOTS:
    // The menu entries: a file dialog, then a warning box on failure.
    void askSave();
    void askLoad();

Q_SIGNALS:
    // A file was applied to the chip (one commit).
    void loaded();

private:
    MainWindow *window;
};
