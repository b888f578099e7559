// qm44xx-server: the SCPI framer and parser, the command set against a
// simulated board in-process, and the TCP side (clients of one board, lines cut
// short, long lines, the client limit) with the board on its own thread.
#include "device/config_file.h"
#include "device/ivr_device.h"
#include "device/settings.h"
#include "server/board_server.h"
#include "server/instrument.h"
#include "server/scpi_parser.h"
#include "test_support.h"

#include <QTcpSocket>
#include <QThread>
#include <QtTest>

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
            nodes << QString::fromStdString(n.mnemonic) + (n.suffix >= 0 ? QString("#%1").arg(n.suffix) : "");
        header += nodes.join(':') + (c.query ? "?" : "");
        QStringList params;
        for (const scpi::Parameter &p : c.parameters) {
            static const char *kinds[] = {"dec", "nondec", "char", "str", "block"};
            QString value = QString::fromStdString(p.text);
            if (p.kind == scpi::Parameter::Kind::Decimal || p.kind == scpi::Parameter::Kind::NonDecimal)
                value += "=" + QString::number(p.number);
            params << QString("%1 %2").arg(kinds[int(p.kind)], value);
        }
        commands << header + "(" + params.join(", ") + ")";
    }
    return commands.join(" ; ");
}

Clock noWait() {
    Clock clock = systemClock();
    clock.sleep = [](long) {};
    return clock;
}

// One client of an in-process instrument.
struct Bench {
    explicit Bench(const std::string &model, bool readOnly = false)
        : bridge(startSimulation(model)), link("sim:" + model, "SIM"),
          instrument(link, readOnly, "0.1.0") {
        link.setClock(noWait());
    }
    ~Bench() { stopSimulation(); }
    QString ask(const std::string &line) {
        return QString::fromStdString(instrument.execute(client, line)).chopped(0).trimmed();
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

} // namespace

class TestServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { hermeticHidBus(); }

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
        QCOMPARE(parsed("SOUR:VOLT 1 2"), QString("error -103: expected ',' between parameters at '2'"));
        QCOMPARE(parsed("SOUR:VOLT 1,"), QString("error -102: a parameter is missing after ','"));
        QCOMPARE(parsed("\x01\xff"), QString("error -101: in a header '\\x01\\xff'"));
        QCOMPARE(parsed("OUTP 'abc"), QString("error -151: unterminated string"));
        QCOMPARE(parsed("SYST:SETT #15ab"), QString("error -161: the block announces 5 bytes and holds 2"));
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
        QCOMPARE(busWrites(b.bridge), QStringList({"25: c1 9a", "25: 0f 01", "25: c0 08", "25: 0f 01"}));
        QCOMPARE(b.ask("MEAS:VOLT:INP?;:MEAS:TEMP?;:MEAS:ALL?"),
                 QString("1.801;28.64;1.801,28.64,0.0000,0.8981"));
        b.bridge.clearTraffic();
        QCOMPARE(b.ask("SOUR:SST 7.8;SST?;CURR:LIM?;:SOUR:VOLT:SLEW 15;SLEW?;:SOUR:VOLT:CODE?"),
                 QString("7.8;2;15744;118"));
        QCOMPARE(busWrites(b.bridge), QStringList({"25: 42 24", "25: 0f 01", "25: 43 0f", "25: 0f 01"}));
        QCOMPARE(b.ask("SOUR:VOLT MAX;VOLT?;VOLT MIN;VOLT?;:SOUR:VOLT:CODE 228;CODE?"),
                 QString("1.2015;0.5004;228"));
        QCOMPARE(b.errors(), QStringList());

        // Refused before anything is sent.
        b.bridge.clearTraffic();
        const long reports = b.bridge.reportCount();
        QStringList refusals;
        for (const char *bad : {"SOUR:VOLT 1.3", "SOUR:VOLT 0.4999", "SOUR:VOLT:CODE 56",
                                "OUTP3 ON", "OUTP4 ON", "SOUR:VOLT:SLEW 3.3", "OUTP MAYBE",
                                "OUTP 2", "SOUR:VOLT \"1\"", "DIAG:REG? 15", "DIAG:REG 19,1",
                                "DIAG:REG 256,1", "OUTP", "OUTP ON,OFF", "*IDN? 1", "FOO:BAR",
                                "MEAS:VOLT2 1", "SYST:SETT 'chip = QM4422'", "OUTP:STAT ON;VOLT 2"}) {
            QCOMPARE(b.ask(bad), QString());
            refusals += b.errors();
        }
        QCOMPARE(b.bridge.reportCount(), reports);
        QCOMPARE(refusals,
                 QStringList({
                     "-222,\"Data out of range;1.3 V is outside the range 0.5 to 1.202 V\"",
                     "-222,\"Data out of range;0.4999 V is outside the range 0.5 to 1.202 V\"",
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
};

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
