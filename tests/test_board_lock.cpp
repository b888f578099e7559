// One program per board: the lock on the bridge's node refuses a second holder
// in this process and in another one, names the holder, and goes with its
// holder. Runs on plain files, which lock as a hidraw node does.
#include "link/board_lock.h"
#include "link/hid_backend.h"
#include "link/motherboard.h"
#include "link/pic.h"
#include "test_support.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <climits>
#include <iostream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Run as "test_board_lock --hold PATH": takes the lock under the name
// qm44xx-panel, says "locked" (or "refused: TEXT"), and holds it until its
// standard input closes.
int holdLock(const char *path) {
    prctl(PR_SET_NAME, "qm44xx-panel", 0, 0, 0);
    try {
        BoardLock lock(path);
        std::cout << "locked" << std::endl;
        char byte;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        return 0;
    } catch (const std::string &text) {
        std::cout << "refused: " << text << std::endl;
        return 2;
    }
}

QString ownName() {
    QFile comm("/proc/self/comm");
    comm.open(QIODevice::ReadOnly);
    return QString::fromUtf8(comm.readAll()).trimmed();
}

// A bridge on a plain file, locked like a hidraw node; its handles only count
// reports.
class LockedBackend : public hid::Backend {
public:
    explicit LockedBackend(const std::string &node) : node(node) {}

    class CountingHandle : public hid::Handle {
    public:
        explicit CountingHandle(int &reports) : reports(reports) {}
        int write(const unsigned char *, size_t length) override {
            ++reports;
            return int(length);
        }
        int read(unsigned char *, size_t, int) override { return 0; }
        int error() const override { return 0; }
        int &reports;
    };

    bool enumerate(std::vector<hid::DeviceInfo> &devices) override {
        hid::DeviceInfo info;
        info.path = node;
        info.vendorId = 0x04D8;
        info.productId = 0xF02A;
        devices.push_back(info);
        return true;
    }
    bool ownsPath(const std::string &path) const override { return path == node; }
    hid::Handle *open(const std::string &, bool, bool, hid::DeviceInfo &, int &error) override {
        ++opens;
        if (refusal) {
            error = refusal;
            return nullptr;
        }
        return new CountingHandle(reports);
    }
    bool locksBoard() const override { return true; }

    std::string node;
    int opens = 0;
    int reports = 0;
    int refusal = 0;
};

} // namespace

class BoardLockTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::string node;

    QString inUse(const QString &name, qint64 pid) const {
        return QString("board %1 is in use by %2 (pid %3)")
            .arg(QString::fromStdString(node), name)
            .arg(pid);
    }

private Q_SLOTS:
    void initTestCase() {
        hermeticHidBus();
        QVERIFY(dir.isValid());
        node = dir.filePath("hidraw0").toStdString();
        QFile file(QString::fromStdString(node));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void aSecondLockInOneProcessIsRefused() {
        {
            BoardLock first(node);
            QCOMPARE(thrown([&] { BoardLock second(node); }), inUse(ownName(), getpid()));
            QCOMPARE(thrown([&] { BoardLock again(node); }), inUse(ownName(), getpid()));
        }
        // Released with its holder.
        QCOMPARE(thrown([&] { BoardLock after(node); }), QString("(nothing thrown)"));
        QCOMPARE(thrown([&] { BoardLock missing(node + ".gone"); }),
                 QString("Error opening motherboard USB connection: %1").arg(ENOENT));
    }

    void anotherProcessIsRefusedAndNamed() {
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {"--hold", QString::fromStdString(node)});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine(), QByteArray("locked\n"));
        QCOMPARE(thrown([&] { BoardLock mine(node); }), inUse("qm44xx-panel", holder.processId()));
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(holder.exitCode(), 0);
        // The lock ends with the process that held it.
        std::unique_ptr<BoardLock> mine;
        QCOMPARE(thrown([&] { mine = std::make_unique<BoardLock>(node); }),
                 QString("(nothing thrown)"));

        // And this process's lock refuses another one.
        QProcess refused;
        refused.start(QCoreApplication::applicationFilePath(),
                      {"--hold", QString::fromStdString(node)});
        refused.closeWriteChannel();
        QVERIFY(refused.waitForFinished(10000));
        QCOMPARE(refused.exitCode(), 2);
        QCOMPARE(QString::fromUtf8(refused.readAllStandardOutput()),
                 "refused: " + inUse(ownName(), getpid()) + "\n");
    }

    void theHolderIsFoundInTheKernelsList() {
        const dev_t device = makedev(0xfe, 0x01);
        const std::string locks = "1: POSIX  ADVISORY  WRITE 700 fe:01:4242 0 EOF\n"
                                  "2: OFDLCK ADVISORY  WRITE -1 fe:01:4242 0 EOF\n"
                                  "3: FLOCK  ADVISORY  WRITE 800 fe:00:4242 0 EOF\n"
                                  "4: FLOCK  ADVISORY  WRITE 900 fe:01:42421 0 EOF\n"
                                  "5: FLOCK  ADVISORY  WRITE 1234 fe:01:4242 0 EOF\n"
                                  "5: -> FLOCK  ADVISORY  WRITE 1300 fe:01:4242 0 EOF\n";
        QCOMPARE(BoardLock::holderIn(locks, device, 4242), pid_t(1234));
        QCOMPARE(BoardLock::holderIn(locks, makedev(0xfe, 0x00), 4242), pid_t(800));
        QCOMPARE(BoardLock::holderIn(locks, device, 4243), pid_t(0));
        QCOMPARE(BoardLock::holderIn("", device, 4242), pid_t(0));
        // A lock taken in another pid namespace is listed with pid 0.
        QCOMPARE(
            BoardLock::holderIn("1: FLOCK  ADVISORY  WRITE 0 fe:01:4242 0 EOF\n", device, 4242),
            pid_t(0));

        QCOMPARE(
            QString::fromStdString(BoardLock::inUseText("/dev/hidraw0", getpid())),
            QString("board /dev/hidraw0 is in use by %1 (pid %2)").arg(ownName()).arg(getpid()));
        QCOMPARE(QString::fromStdString(BoardLock::inUseText("/dev/hidraw0", 0)),
                 QString("board /dev/hidraw0 is in use by another program"));
        // No process can have this pid: its name cannot be read.
        QCOMPARE(QString::fromStdString(BoardLock::inUseText("/dev/hidraw0", INT_MAX)),
                 QString("board /dev/hidraw0 is in use by another program"));
    }

    void theTransportHoldsTheLockUntilDestroyed() {
        LockedBackend backend(node);
        hid::addBackend(&backend, true);
        struct Registered {
            hid::Backend *backend;
            ~Registered() { hid::removeBackend(backend); }
        } registered{&backend};
        {
            auto first = std::make_unique<PIC>(nullptr, false);
            first->writeEN(1);
            QCOMPARE(backend.opens, 2);
            // Refused before it opens anything, so it never sees a report.
            QCOMPARE(thrown([] { PIC second(nullptr, false); }), inUse(ownName(), getpid()));
            QCOMPARE(thrown([&] { MotherBoard board(nullptr, node); }), inUse(ownName(), getpid()));
            QCOMPARE(backend.opens, 2);
            first.reset();
            MotherBoard board(nullptr, node);
            board.setPVIN(false);
            QCOMPARE(backend.opens, 4);
            QCOMPARE(backend.reports, 2);
            QCOMPARE(thrown([&] { BoardLock other(node); }), inUse(ownName(), getpid()));
        }
        QCOMPARE(thrown([&] { BoardLock free(node); }), QString("(nothing thrown)"));

        // A failed open gives the lock back with the error.
        backend.refusal = EACCES;
        QCOMPARE(thrown([] { PIC refused(nullptr, false); }),
                 QString("Error opening motherboard USB connection: 13"));
        QCOMPARE(thrown([&] { BoardLock free(node); }), QString("(nothing thrown)"));
        backend.refusal = 0;

        // A link to the node names the same board, and the same lock.
        const std::string link = dir.filePath("qm44xx-bridge").toStdString();
        QCOMPARE(symlink(node.c_str(), link.c_str()), 0);
        PIC linked(nullptr, false, link);
        QCOMPARE(thrown([] { PIC first(nullptr, false); }), inUse(ownName(), getpid()));
    }

    void simulatedBoardsNeedNoLock() {
        SimulatedBridge &bridge = startSimulation("QM4434");
        PIC first(nullptr, false);
        PIC second(nullptr, false);
        first.writeEN(1);
        second.writePVIN(0);
        QCOMPARE(bridge.reportCount(), 2L);
        stopSimulation();
    }
};

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold")
        return holdLock(argv[2]);
    QCoreApplication app(argc, argv);
    BoardLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_board_lock.moc"
