// qm44xx-server: the SCPI framer and parser, the command set against a
// simulated board in-process, and the TCP side (clients of one board, lines cut
// short, long lines, the client limit) with the board on its own thread.
#include "device/config_file.h"
#include "device/ivr_device.h"
#include "device/settings.h"
#include "server/board_server.h"
#include "server/host.h"
#include "server/instrument.h"
#include "server/metrics.h"
#include "server/scpi_parser.h"
#include "server/server.h"
#include "test_support.h"
#include "tests/support/served_board.h"

#include <QTcpSocket>
#include <QThread>
#include <QtTest>
#include <future>
#include <sstream>

using namespace server;

namespace {

QStringList texts(const std::vector<scpi::Message> &messages) {
    QStringList out;
    for (const scpi::Message &m : messages)
        out << (m.overrun ? QStringLiteral("<overrun>") : QString::fromStdString(m.text));
    return out;
}

QStringList framed(const std::string &stream) {
    scpi::Framer framer;
    std::vector<scpi::Message> out;
    framer.feed(stream.data(), stream.size(), out);
    return texts(out);
}

// "error -113" or the commands as "HEADER(params)" with node suffixes.
QString parsed(const std::string &message) {
    const scpi::ParseResult r = scpi::parseMessage(message);
    if (!r.ok())
        return QString("error %1: %2").arg(r.error).arg(QString::fromStdString(r.detail));
    QStringList commands;
    for (const scpi::Command &c : r.commands) {
        QString header = c.common ? "*" : (c.absolute ? ":" : "");
        QStringList nodes;
        for (const scpi::HeaderNode &n : c.nodes)
            nodes << QString::fromStdString(n.mnemonic) +
                         (n.suffix >= 0 ? QString("#%1").arg(n.suffix) : "");
        header += nodes.join(':') + (c.query ? "?" : "");
        QStringList params;
        for (const scpi::Parameter &p : c.parameters) {
            static const char *kinds[] = {"dec", "nondec", "char", "str", "block"};
            QString value = QString::fromStdString(p.text);
            if (p.kind == scpi::Parameter::Kind::Decimal ||
                p.kind == scpi::Parameter::Kind::NonDecimal)
                value += "=" + QString::number(p.number);
            params << QString("%1 %2").arg(kinds[int(p.kind)], value);
        }
        commands << header + "(" + params.join(", ") + ")";
    }
    return commands.join(" ; ");
}

// One client of an in-process instrument.
struct Bench {
    explicit Bench(const std::string &model, bool readOnly = false)
        : bridge(startSimulation(model)), link("sim:" + model, "SIM"),
          instrument(link, readOnly, "0.1.0") {
        link.setClock(noWait());
    }
    QString ask(const std::string &line) {
        QString answer = QString::fromStdString(instrument.execute(client, line));
        if (answer.endsWith('\n'))
            answer.chop(1);
        return answer;
    }
    QStringList errors() {
        QStringList out;
        for (const std::string &e : client.errors)
            out << QString::fromStdString(e);
        client.errors.clear();
        return out;
    }
    SimulatedBridge &bridge;
    BoardLink link;
    Instrument instrument;
    ClientState client;
};

// The board at this path served on its own thread, as the program serves it.
struct Served : ServedBoard {
    using ServedBoard::ServedBoard;
    bool connect(QTcpSocket &socket) {
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        return socket.waitForConnected(5000);
    }
};

// Sends a line and waits (at most 5 s) for the one answer line.
QString query(QTcpSocket &socket, const QByteArray &line) {
    socket.write(line + "\n");
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(5000))
            return QStringLiteral("(no answer)");
    }
    return QString::fromLatin1(socket.readLine()).chopped(1);
}

// The qm44xx_ lines of one scrape of /metrics over HTTP, sorted.
QStringList scrape(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(5000))
        return {"(no connection)"};
    socket.write("GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000)) {
    }
    QStringList lines;
    for (const QString &line : QString::fromUtf8(socket.readAll()).split('\n')) {
        if (line.startsWith("qm44xx_"))
            lines << line;
    }
    lines.sort();
    return lines;
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }
    void cleanup() { stopSimulation(); }

    void framing() {
        QCOMPARE(framed("*IDN?\nSYST:ERR?\r\npartial"), QStringList({"*IDN?", "SYST:ERR?\r"}));
        // A block's data passes newlines through; a string's newline ends the line.
        QCOMPARE(framed("SYST:SETT #15a\nb\nc;*OPC?\nOUTP 'x\ny'\n"),
                 QStringList({"SYST:SETT #15a\nb\nc;*OPC?", "OUTP 'x", "y'"}));
        QCOMPARE(framed("A #0raw\ndata\nB\n"), QStringList({"A #0raw", "data", "B"}));
        // Too long: dropped up to the next newline, then framing goes on.
        QCOMPARE(framed(std::string(5000, 'A') + "\n*IDN?\n"), QStringList({"<overrun>", "*IDN?"}));
        QCOMPARE(framed(std::string(4096, 'A') + "\n"), QStringList({QString(4096, 'A')}));
        QCOMPARE(framed("SYST:SETT #565537\n*IDN?\n"), QStringList({"<overrun>", "*IDN?"}));
        // Blocks of one line share one limit.
        QCOMPARE(framed("X #540000" + std::string(40000, 'a') + ",#540000\n*CLS\n"),
                 QStringList({"<overrun>", "*CLS"}));
        // Bytes arriving one at a time frame the same.
        scpi::Framer framer;
        std::vector<scpi::Message> out;
        const std::string stream = "SOUR:VOLT 0.9\nSYST:SETT #213hello\nworld!!\n";
        for (char c : stream) {
            const size_t before = out.size();
            framer.feed(&c, 1, out);
            QCOMPARE(framer.midMessage(), out.size() == before);
        }
        QCOMPARE(texts(out), QStringList({"SOUR:VOLT 0.9", "SYST:SETT #213hello\nworld!!"}));
        QVERIFY(!framer.midMessage());
    }

    void parsing() {
        QCOMPARE(parsed("*IDN?;:SOUR2:VOLT 0.9;volt?"),
                 QString("*IDN?() ; :SOUR#2:VOLT(dec 0.9=0.9) ; volt?()"));
        QCOMPARE(parsed("  DIAG:REG #H41,0x9A ; DIAG:REG? #B101;X #Q17,-1.5E-3,+2\r"),
                 QString("DIAG:REG(nondec #H41=65, nondec 0x9A=154) ; DIAG:REG?(nondec #B101=5) ; "
                         "X(nondec #Q17=15, dec -1.5E-3=-0.0015, dec +2=2)"));
        QCOMPARE(parsed("OUTP ON;SYST:SETT 'it''s',\"a\"\"b\",#13a;b"),
                 QString("OUTP(char ON) ; SYST:SETT(str it's, str a\"b, block a;b)"));
        QCOMPARE(parsed(";;  ;"), QString(""));
        QCOMPARE(parsed("SOUR:VOLT 0.9V"), QString("error -138: no unit is taken: '0.9V'"));
        QCOMPARE(parsed("SOUR:VOLT 1 2"),
                 QString("error -103: expected ',' between parameters at '2'"));
        QCOMPARE(parsed("SOUR:VOLT 1,"), QString("error -102: a parameter is missing after ','"));
        QCOMPARE(parsed("\x01\xff"), QString("error -101: in a header '\\x01\\xff'"));
        QCOMPARE(parsed("OUTP 'abc"), QString("error -151: unterminated string"));
        QCOMPARE(parsed("SYST:SETT #15ab"),
                 QString("error -161: the block announces 5 bytes and holds 2"));
        QCOMPARE(parsed("SYST:SETT #2x"), QString("error -161: the block's length is cut short"));
        QCOMPARE(parsed("X #H1G"), QString("error -120: not a number: '#H1G'"));
        QCOMPARE(parsed("X #B102"), QString("error -120: digit '2' in a base-2 number"));
        QCOMPARE(parsed("SOURCEVOLTAGEX"), QString("error -112: 'SOURCEVOLTAGEX'"));
        QCOMPARE(parsed("SOUR1234567890:VOLT"), QString("error -114: 'SOUR1234567890'"));
        QCOMPARE(parsed("1SOUR"), QString("error -102: unexpected '1SOUR' in a header"));
        QCOMPARE(parsed("*IDN?x"), QString("error -102: unexpected 'x' after the header"));
        QCOMPARE(parsed("X --1"), QString("error -120: not a number: '--1'"));

        QVERIFY(scpi::mnemonicMatches("sour", "SOURce"));
        QVERIFY(scpi::mnemonicMatches("SOURCE", "SOURce"));
        QVERIFY(!scpi::mnemonicMatches("SOURC", "SOURce"));
        QCOMPARE(QString::fromStdString(scpi::errorEntry(-200, "say \"hi\"")),
                 QString("-200,\"Execution error;say \"\"hi\"\"\""));
        QCOMPARE(QString::fromStdString(scpi::definiteBlock("a\nb")), QString("#13a\nb"));
    }

    void commandSet() {
        Bench b("QM4422");
        QCOMPARE(b.ask("*IDN?"), QString("QM44xxC-EVAL,QM44xxC,SIM,0.1.0"));
        QCOMPARE(b.ask("OUTP?"), QString());
        QCOMPARE(b.errors(), QStringList({"-200,\"Execution error;IVR not powered: no known chip "
                                          "answers (send POWer ON first; is PVIN on?)\""}));
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("POW ON;*IDN?;pow?;CHIP:DETECT?;*OPC?"),
                 QString("QM44xxC-EVAL,QM4422,SIM,0.1.0;1;QM4422,#H25,#H22,2;1"));
        // Identification probes the known models only: nothing to address 0x00.
        for (const std::vector<uint8_t> &report : b.bridge.reports())
            QVERIFY(report[1] != 0xF3 || report[3] != 0x00);

        b.bridge.clearTraffic();
        QCOMPARE(b.ask("SOURce2:VOLTage 0.9;VOLT?;:OUTPut2 ON;:OUTP2?;:MEAS:VOLT2?"),
                 QString("0.8981;1;0.8981"));
        // VR2 of a two-regulator chip is page 3.
        QCOMPARE(busWrites(b.bridge),
                 QStringList({"25: c1 9a", "25: 0f 01", "25: c0 08", "25: 0f 01"}));
        QCOMPARE(b.ask("MEAS:VOLT:INP?;:MEAS:TEMP?;:MEAS:ALL?"),
                 QString("1.801;28.64;1.801,28.64,0.0000,0.8981"));
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("SOUR:SST 7.8;SST?;CURR:LIM?;:SOUR:VOLT:SLEW 15;SLEW?;:SOUR:VOLT:CODE?"),
                 QString("7.8;2;15744;118"));
        QCOMPARE(busWrites(b.bridge),
                 QStringList({"25: 42 24", "25: 0f 01", "25: 43 0f", "25: 0f 01"}));
        QCOMPARE(b.ask("SOUR:VOLT MAX;VOLT?;VOLT MIN;VOLT?;:SOUR:VOLT:CODE 228;CODE?"),
                 QString("1.2015;0.5004;228"));
        QCOMPARE(b.errors(), QStringList());

        // Refused before anything is sent.
        b.bridge.clearTraffic();
        const long reports = b.bridge.reportCount();
        QStringList refusals;
        for (const char *bad :
             {"SOUR:VOLT 1.3", "SOUR:VOLT:CODE 56", "OUTP3 ON", "OUTP4 ON", "SOUR:VOLT:SLEW 3.3",
              "OUTP MAYBE", "OUTP 2", "SOUR:VOLT \"1\"", "DIAG:REG? 15", "DIAG:REG 19,1",
              "DIAG:REG 256,1", "OUTP", "OUTP ON,OFF", "*IDN? 1", "FOO:BAR", "MEAS:VOLT2 1",
              "SYST:SETT 'chip = QM4422'", "OUTP:STAT ON;VOLT 2"}) {
            QCOMPARE(b.ask(bad), QString());
            refusals += b.errors();
        }
        QCOMPARE(b.bridge.reportCount(), reports);
        QCOMPARE(
            refusals,
            QStringList({
                "-222,\"Data out of range;1.3 V is outside the range 0.5 to 1.202 V\"",
                "-222,\"Data out of range;the DAC code 56 is outside 57 to 228\"",
                "-221,\"Settings conflict;QM4422 has no VR3 (it has 2 regulators)\"",
                "-114,\"Header suffix out of range;regulator 4 (1 to 3)\"",
                "-224,\"Illegal parameter value;the rate must be one of 0.5 1.0 2.0 3.9 7.8 "
                "15.4 30.8 61.5 123 246 492 984 1968 3936 7872 15744 (mV/us) or a code 0 to "
                "15, got '3.3'\"",
                "-224,\"Illegal parameter value;expected ON, OFF, 1 or 0, got 'MAYBE'\"",
                "-224,\"Illegal parameter value;expected ON, OFF, 1 or 0, got 2\"",
                "-104,\"Data type error;expected volts, got a string\"",
                "-224,\"Illegal parameter value;Attempt to read to unreadable address: 0d15\"",
                "-224,\"Illegal parameter value;Attempt to write to unwriteable address: 0d19\"",
                "-222,\"Data out of range;the address 256 is outside 0 to 255\"",
                "-109,\"Missing parameter;OUTP takes 1 parameter\"",
                "-108,\"Parameter not allowed;OUTP takes 1 parameter, not 2\"",
                "-108,\"Parameter not allowed;*IDN? takes no parameter\"",
                "-113,\"Undefined header;'FOO:BAR'\"",
                "-113,\"Undefined header;'MEAS:VOLT2' is a query only\"",
                "-104,\"Data type error;the settings come as a block (#<n><length><file>), "
                "not a string\"",
                "-113,\"Undefined header;'VOLT'\"",
            }));
    }
    void settingsFile() {
        Bench b("QM4422");
        QCOMPARE(b.ask("POW ON;:SOUR2:VOLT 0.9;:OUTP2 ON;:SOUR:SST 7.8"), QString());
        const std::string saved = b.instrument.execute(b.client, "SYST:SETT?");
        const ChipSettings now = settingsFromCache(b.link.device());
        QCOMPARE(now.regulators.at(1), (RegulatorSettings{true, 154, 3, 3}));
        QCOMPARE(saved,
                 scpi::definiteBlock(formatConfig(now, "qm44xx-server SYSTem:SETTings?")) + "\n");
        const ConfigParseResult read = parseConfig(saved.substr(5, saved.size() - 6));
        QVERIFY2(read.ok(), read.error.c_str());
        QCOMPARE(read.config.regulators, now.regulators);
        // Read from the chip afresh: a cache that no longer holds the chip's target is not saved.
        b.link.device().register_cache[0xC1] = 0x60;
        QCOMPARE(b.instrument.execute(b.client, "SYST:SETT?"), saved);

        // A file as the tool saves it loads in one commit.
        ChipSettings changed = now;
        changed.regulators[0] = RegulatorSettings{true, 100, 5, 6};
        changed.regulators[1].enable = false;
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("SYST:SETT " + scpi::definiteBlock(formatConfig(changed))), QString());
        QCOMPARE(b.errors(), QStringList());
        QCOMPARE(busWrites(b.bridge),
                 QStringList({"25: 40 08 64 46 05", "25: c0 00", "25: 0f 01"}));
        QCOMPARE(b.instrument.execute(b.client, "SYST:SETT?"),
                 scpi::definiteBlock(formatConfig(changed, "qm44xx-server SYSTem:SETTings?")) +
                     "\n");

        // Refused whole, with the reader's own words (its every refusal is a case
        // of test_ctl), and nothing sent.
        b.bridge.clearTraffic();
        std::string other = formatConfig(changed);
        other.replace(other.find("QM4422"), 6, "QM4423");
        QCOMPARE(b.ask("SYST:SETT " + scpi::definiteBlock(other)), QString());
        QCOMPARE(b.errors(), QStringList({"-224,\"Illegal parameter value;line 5: the file is for "
                                          "QM4423, the chip is QM4422\""}));
        QCOMPARE(busWrites(b.bridge), QStringList());
    }

    void readOnly() {
        Bench b("QM4411", true);
        Instrument writer(b.link, false, "0.1.0");
        ClientState other;
        writer.execute(other, "POW ON;:SOUR:VOLT 0.9");
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("*IDN?;:SOUR:VOLT?;:OUTP?;:MEAS:VOLT:INP?;:DIAG:REG? 65"),
                 QString("QM44xxC-EVAL,QM4411,SIM,0.1.0;0.8981;0;1.801;154"));
        for (const char *setting : {"OUTP ON", "SOUR:VOLT 0.8", "DIAG:REG 65,100", "SYST:SETT #10",
                                    "POW OFF", "POW:PVIN OFF", "*IDN?;:OUTP ON"})
            QCOMPARE(b.ask(setting), QString());
        QCOMPARE(b.client.errors.size(), size_t(7));
        QCOMPARE(b.errors().first(), QString("-203,\"Command protected;the server is read-only\""));
        QCOMPARE(busWrites(b.bridge), QStringList());
        QCOMPARE(b.ask("*CLS;*OPC;*ESR?"), QString("1"));
    }

    void errorQueue() {
        Bench b("QM4411");
        for (int i = 0; i < 20; ++i)
            QCOMPARE(b.ask(std::string("\xff\xfe\x00garbage", 10)), QString());
        QCOMPARE(b.client.errors.size(), Instrument::ERROR_QUEUE_SIZE);
        QCOMPARE(QString::fromStdString(b.client.errors.front()),
                 QString("-101,\"Invalid character;in a header '\\xff\\xfe\\x00garbage'\""));
        QCOMPARE(QString::fromStdString(b.client.errors.back()),
                 QString("-350,\"Queue overflow\""));
        QCOMPARE(b.ask("SYST:ERR:COUN?;*ESR?;*ESR?"), QString("16;32;0"));
        QCOMPARE(b.ask("*CLS;SYST:ERR:COUN?"), QString("0"));
        b.instrument.overrun(b.client);
        QCOMPARE(b.ask("SYST:ERR?;SYST:ERR?;*ESR?"),
                 QString("-363,\"Input buffer overrun;a line holds at most 4096 bytes, and its "
                         "blocks at most 65536 together\";0,\"No error\";8"));
        // An execution error ends the line: what follows it does not run.
        QCOMPARE(b.ask("*OPC?;OUTP ON;*OPC?"), QString("1"));
        QCOMPARE(b.errors().size(), 1);
    }

    void unplugAndBack() {
        Bench b("QM4434");
        QCOMPARE(b.ask("POW ON;:SOUR:VOLT 0.9;:MEAS:TEMP?"), QString("25.52"));
        b.bridge.unplug();
        QCOMPARE(b.ask("MEAS:TEMP?"), QString());
        const QStringList errors = b.errors();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("-240,\"Hardware error;Error during USB "),
                 qPrintable(errors[0]));
        QCOMPARE(b.ask("*IDN?"), QString("QM44xxC-EVAL,QM44xxC,SIM,0.1.0"));
        QCOMPARE(b.ask("OUTP?"), QString());
        QCOMPARE(b.errors(),
                 QStringList({"-240,\"Hardware error;Motherboard not found: sim:QM4434\""}));

        // Back: opened and identified afresh; nothing is written to the chip.
        b.bridge.replug();
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("*IDN?;:SOUR:VOLT?"), QString("QM44xxC-EVAL,QM4434,SIM,0.1.0;0.8981"));
        QCOMPARE(busWrites(b.bridge), QStringList());
        QCOMPARE(b.bridge.commandCount(0x30) + b.bridge.commandCount(0x20), 1L); // POW ON's EN only

        // A chip that stops answering reads all ones: said so, not shown as data.
        b.bridge.setChipSilent(true);
        QCOMPARE(b.ask("STAT:FLAG?"), QString());
        QCOMPARE(b.errors(),
                 QStringList({"-240,\"Hardware error;the chip stopped answering: QM4434 "
                              "at 0x11 reads 0xff (is EN high and PVIN on?)\""}));
        QVERIFY(b.link.isOpen() && !b.link.identified());
    }

    void clientsOfOneBoard() {
        ServeSettings settings;
        settings.maxClients = 3;
        settings.idleTimeoutMs = 0;
        settings.intervalMs = 20;
        settings.version = "0.1.0";
        startSimulation("QM4411");
        Served served("sim:QM4411", settings);
        QTcpSocket a, b;
        QVERIFY(served.connect(a) && served.connect(b));
        QCOMPARE(query(a, "POW ON;*OPC?;:SOUR:VOLT?"), QString("1;0.7505"));

        // A line whose end never came is never run, even when the client goes.
        {
            QTcpSocket c;
            QVERIFY(served.connect(c));
            c.write("OUTP ON\nSOUR:VOLT 0.9");
            QVERIFY(c.waitForBytesWritten(5000));
            QTRY_COMPARE_WITH_TIMEOUT(query(b, "OUTP?"), QString("1"), 5000);
            c.abort();
        }
        QCOMPARE(query(b, "SOUR:VOLT?"), QString("0.7505"));

        // A long line, and garbage, cost their sender an error and nobody else anything.
        a.write(QByteArray(5000, 'A') + "\n");
        QCOMPARE(query(a, "*IDN?"), QString("QM44xxC-EVAL,QM4411,SIM,0.1.0"));
        QVERIFY(query(a, "SYST:ERR?").startsWith("-363,\"Input buffer overrun;a line"));
        QByteArray garbage;
        for (int i = 0; i < 256; ++i)
            garbage += char(i == '\n' ? 0 : i);
        a.write(garbage + "\n");
        QVERIFY(query(a, "SYST:ERR?").startsWith("-101,\"Invalid character;"));
        QCOMPARE(query(b, "SYST:ERR?;:OUTP?;:SOUR:VOLT?"), QString("0,\"No error\";1;0.7505"));

        // The client limit: the fourth is closed at once, the others go on.
        QTcpSocket c, d;
        QVERIFY(served.connect(c) && served.connect(d));
        QVERIFY(d.waitForDisconnected(5000));
        QCOMPARE(query(c, "*OPC?"), QString("1"));
        QCOMPARE(query(a, "*OPC?"), QString("1"));
    }

    void metricsFromThePoll() {
        Metrics metrics;
        const int port = metrics.serve("127.0.0.1:0");
        QVERIFY(port > 0);
        SimulatedBridge &bridge = startSimulation("QM4411");
        ServeSettings settings;
        settings.intervalMs = 3600000; // polled by hand below
        BoardServer served("sim:QM4411", "SIM", settings, &metrics);
        served.board().setClock(noWait());
        QVERIFY(served.start());
        const QString labels = "chip=\"QM4411\",node=\"sim:QM4411\",serial=\"SIM\"";
        QStringList lines = scrape(port);
        QVERIFY2(lines.contains("qm44xx_up{chip=\"none\",node=\"sim:QM4411\",serial=\"SIM\"} 1"),
                 qPrintable(lines.join('\n')));
        QCOMPARE(lines.filter("qm44xx_vin_volts").size(), 0);

        ClientState client;
        served.instrument().execute(client, "POW ON;:OUTP ON;:SOUR:VOLT 0.9");
        served.poll();
        // A scrape reads what the poll left; it never reaches the board.
        const long reports = bridge.reportCount();
        lines = scrape(port);
        lines = scrape(port);
        QCOMPARE(bridge.reportCount(), reports);
        QCOMPARE(lines.filter("qm44xx_vin_volts"),
                 QStringList("qm44xx_vin_volts{" + labels + "} 1.80102"));
        QCOMPARE(lines.filter("qm44xx_vout_volts"),
                 QStringList("qm44xx_vout_volts{" + labels.left(labels.size() - 12) +
                             "output=\"VR1\",serial=\"SIM\"} 0.8981000000000001"));
        QCOMPARE(lines.filter("qm44xx_temperature_celsius"),
                 QStringList("qm44xx_temperature_celsius{" + labels + "} 28.64"));
        QCOMPARE(lines.filter("qm44xx_status{").size(), 6);
        QCOMPARE(lines.filter(QRegularExpression("qm44xx_status.* 0$")).size(), 6);
        QCOMPARE(lines.filter("qm44xx_exchanges_total"),
                 QStringList(QString("qm44xx_exchanges_total{%1} %2").arg(labels).arg(reports)));

        bridge.chip().setPageFault(1, false, false, true);
        served.poll();
        QVERIFY(scrape(port).contains("qm44xx_status{chip=\"QM4411\",flag=\"VR1 short circuit\","
                                      "node=\"sim:QM4411\",serial=\"SIM\"} 2"));

        // Unplugged: up 0, a link error; back: up 1 and the chip found again.
        bridge.unplug();
        served.poll();
        lines = scrape(port);
        QVERIFY2(lines.contains("qm44xx_up{chip=\"none\",node=\"sim:QM4411\",serial=\"SIM\"} 0"),
                 qPrintable(lines.join('\n')));
        QVERIFY(lines.contains(
            "qm44xx_link_errors_total{chip=\"none\",node=\"sim:QM4411\",serial=\"SIM\"} 1"));
        bridge.replug();
        bridge.clearTraffic();
        served.poll();
        served.poll();
        lines = scrape(port);
        QVERIFY(lines.contains("qm44xx_up{" + labels + "} 1"));
        QVERIFY(lines.contains("qm44xx_link_errors_total{" + labels + "} 1"));
        QCOMPARE(lines.filter("qm44xx_vin_volts"),
                 QStringList("qm44xx_vin_volts{" + labels + "} 1.80102"));
        QCOMPARE(busWrites(bridge), QStringList());
        served.stop();
        QCOMPARE(scrape(port), QStringList());
    }

    void options() {
        auto refusal = [](const std::vector<std::string> &arguments) {
            Options options;
            std::string error;
            return parseOptions(arguments, options, error) ? QString("(accepted)")
                                                           : QString::fromStdString(error);
        };
        Options options;
        std::string error;
        QVERIFY(parseOptions({"--simulate", "--simulate=QM4422", "--device", "/dev/hidraw3",
                              "--device=/dev/hidraw4", "--port", "0", "--listen=0.0.0.0",
                              "--metrics", "127.0.0.1:0", "--interval", "250", "--max-clients=2",
                              "--idle-timeout", "0", "--read-only"},
                             options, error));
        QCOMPARE(options.simulate, std::vector<std::string>({"QM4434", "QM4422"}));
        QCOMPARE(options.devices, std::vector<std::string>({"/dev/hidraw3", "/dev/hidraw4"}));
        QCOMPARE(options.port, 0);
        QCOMPARE(options.listen, std::string("0.0.0.0"));
        QCOMPARE(options.metrics, std::string("127.0.0.1:0"));
        QCOMPARE(options.intervalMs, 250);
        QCOMPARE(options.maxClients, 2);
        QCOMPARE(options.idleTimeoutS, 0);
        QVERIFY(options.readOnly);
        // Safe defaults: loopback, the LXI port, metrics on loopback.
        const Options defaults;
        QCOMPARE(defaults.listen, std::string("127.0.0.1"));
        QCOMPARE(defaults.port, 5025);
        QCOMPARE(defaults.metrics, std::string("127.0.0.1:9825"));
        QVERIFY(!defaults.readOnly);
        QVERIFY(parseOptions({"--metrics=off"}, options, error) && options.metrics.empty());

        QCOMPARE(refusal({"--simulate=QM9999"}),
                 QString("Unknown chip model \"QM9999\" for --simulate (known: QM4411, QM4422, "
                         "QM4423, QM4433, QM4434)"));
        QCOMPARE(refusal({"--port", "65536"}),
                 QString("--port takes a port number 0 to 65535, not '65536'"));
        QCOMPARE(refusal({"--port"}), QString("option '--port' needs a value"));
        QCOMPARE(refusal({"--interval=5"}),
                 QString("--interval takes milliseconds, 10 to 3600000, not '5'"));
        QCOMPARE(refusal({"--max-clients", "0"}),
                 QString("--max-clients takes a number 1 to 1000, not '0'"));
        QCOMPARE(refusal({"--idle-timeout", "-1"}),
                 QString("--idle-timeout takes seconds, 0 (never) to 864000, not '-1'"));
        QCOMPARE(refusal({"--metrics", "9825"}),
                 QString("--metrics takes ADDR:PORT or off, not '9825'"));
        QCOMPARE(refusal({"--verbose"}), QString("unknown option '--verbose'"));
        QCOMPARE(refusal({"serve"}), QString("unexpected argument 'serve'"));
    }

    void aStalledBoardHoldsUpOnlyItsOwnClients() {
        ServeSettings settings;
        settings.intervalMs = 3600000;
        settings.version = "0.1.0";
        SimulatedBridge &first = startSimulation("QM4411");
        SimulatedBridge &second = addSimulation("QM4422");
        {
            Served two(simulationPath(second), settings);
            Served one(simulationPath(first), settings);
            QTcpSocket a, b;
            QVERIFY(one.connect(a) && two.connect(b));
            QCOMPARE(query(a, "POW ON;*IDN?"), QString("QM44xxC-EVAL,QM4411,SIM,0.1.0"));
            QCOMPARE(query(b, "POW ON;*IDN?"), QString("QM44xxC-EVAL,QM4422,SIM,0.1.0"));

            // Board one's next exchange is held until released; board two
            // answers meanwhile, and only then does board one's client get its
            // answer (its read timed out: the bridge stalled).
            struct Release { // also when a check fails, so the board's thread ends
                std::promise<void> promise;
                bool done = false;
                void now() {
                    if (!std::exchange(done, true))
                        promise.set_value();
                }
                ~Release() { now(); }
            } release;
            std::shared_future<void> released = release.promise.get_future().share();
            first.setTimeoutWait(false);
            first.stall(true);
            first.setReportHook([released]() { released.wait(); });
            a.write("MEAS:TEMP?\n*OPC?\n");
            QVERIFY(a.waitForBytesWritten(5000));
            for (int i = 0; i < 20; ++i)
                QCOMPARE(query(b, "MEAS:VOLT:INP?"), QString("1.801"));
            QVERIFY(!a.waitForReadyRead(0) && !a.canReadLine());
            release.now();
            while (!a.canReadLine())
                QVERIFY(a.waitForReadyRead(5000));
            QCOMPARE(a.readLine(), QByteArray("1\n"));
            QCOMPARE(query(a, "SYST:ERR?"),
                     QString("-240,\"Hardware error;Error during USB read: 110\""));
        }
    }

    void everyBridgeOfTheHost() {
        SimulatedBridge &first = startSimulation("QM4411");
        Options options;
        options.port = 0;
        options.metrics.clear();
        options.intervalMs = 3600000;
        std::ostringstream out, err;
        {
            Host host(options, out, err);
            QVERIFY(host.start());
            QCOMPARE(host.boardCount(), 1);
            addSimulation("QM4422"); // plugged in
            host.scan();
            QCOMPARE(host.boardCount(), 2);
            // The same bridges again, after one went away and came back.
            first.unplug();
            host.scan();
            first.replug();
            host.scan();
            QCOMPARE(host.boardCount(), 2);
            const QRegularExpression lines(
                "^board sim:QM4411 serial SIM0001: SCPI on 127\\.0\\.0\\.1:\\d+\n"
                "board sim:QM4422-2 serial SIM0002: SCPI on 127\\.0\\.0\\.1:(\\d+)\n$");
            const QRegularExpressionMatch match = lines.match(QString::fromStdString(out.str()));
            QVERIFY2(match.hasMatch(), out.str().c_str());
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(match.captured(1).toUInt()));
            QVERIFY(socket.waitForConnected(5000));
            QCOMPARE(query(socket, "*IDN?"), QString("QM44xxC-EVAL,QM44xxC,SIM0002,0.1.0"));
        }
        QCOMPARE(err.str(), std::string());
    }

    void idleClientsAreClosed() {
        ServeSettings settings;
        settings.idleTimeoutMs = 50;
        settings.version = "0.1.0";
        startSimulation("QM4411");
        Served served("sim:QM4411", settings);
        QTcpSocket a;
        QVERIFY(served.connect(a));
        QCOMPARE(query(a, "*OPC?"), QString("1"));
        QVERIFY(a.waitForDisconnected(5000));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
