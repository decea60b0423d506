// The console's command runner and logger, for real: progress runs of shell scripts that speak
// the line protocol on both streams, blocking runs against their limits, the status datagrams on
// 127.0.0.1:43860, the main log's line format and the files the runner reads and writes.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include "consolefixture.h"
#include "constants.h"
#include "logging.h"
#include "progress.h"
#include "sandbox.h"
#include "ui_progress.h"
#include "utils.h"

using namespace ConsoleFixture;

class TestUtils : public QObject
{
    Q_OBJECT

private:
    static int progressRun(const QString &script, Progress *dialog, bool merged)
    {
        return Utils::GetInstance()->ExecuteProgressShell(QStringLiteral("sh"), {QStringLiteral("-c"), script},
                                                          dialog, merged);
    }
    static int visibleProgressDialogs()
    {
        int count = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (qobject_cast<Progress *>(widget) && widget->isVisible())
                ++count;
        return count;
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Utils::InitLogger(2);
    }

    void init()
    {
        QFile::remove(LOG_FILE);
        QFile::remove(DBG_FILE);
        QFile::remove(QStringLiteral("/tmp/go"));
    }

    void lineProtocol_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("merged");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QString>("logLine");
        // XXX alone on a line is no message; a quoted text on its own line is not a marker.
        QTest::newRow("XXX blocks on their own lines") << "printf 'XXX\\n\"Copying files\"\\nXXX\\n'" << true
                                                       << "start" << "" << 0 << "";
        QTest::newRow("XXX with text") << "printf 'XXX Copying files\\n'" << true << "Copying files" << "" << 0 << "";
        QTest::newRow("numbers and YYY") << "printf '10\\nYYY step two\\n55\\n'" << true
                                         << "start\n   step two" << "" << 55 << "";
        QTest::newRow("checkpoints count up") << "printf '40\\ntar: checkpoint 1\\ntar: checkpoint 2\\n'" << true
                                              << "start" << "" << 42 << "";
        QTest::newRow("TTT and quotes") << "printf 'TTT \"Backup\"\\nXXX \"x.bim\"\\n'" << true << "x.bim" << "Backup" << 0 << "";
        QTest::newRow("42% is no number") << "printf '17\\n42%%\\n4 2\\n'" << true << "start" << "" << 17 << "";
        QTest::newRow("LLL goes to the main log") << "printf 'LLL Partition 2 done\\n'" << true
                                                  << "start" << "" << 0 << " Partition 2 done \n";
        // The engine's gauge arrives on standard error, its messages on standard output.
        QTest::newRow("both streams apart") << "printf 'XXX from stdout\\n' ; printf '33\\nTTT from stderr\\n' >&2"
                                            << false << "from stdout" << "from stderr" << 33 << "";
        QTest::newRow("last line without line end") << "printf '12\\n77'" << false << "start" << "" << 77 << "";
    }

    void lineProtocol()
    {
        QFETCH(QString, script);
        QFETCH(bool, merged);
        Progress dialog(QStringLiteral("start"));
        QCOMPARE(progressRun(script, &dialog, merged), 0);
        QTEST(dialog.ui->label->text(), "message");
        QTEST(dialog.ui->lblTitle->text(), "title");
        QTEST(dialog.ui->progressBar->value(), "bar");
        QFETCH(QString, logLine);
        if (!logLine.isEmpty())
            QVERIFY2(mainLog().contains(logLine), qPrintable(mainLog()));
        QVERIFY(Sandbox::readFile(DBG_FILE).contains("stdout: "));
    }

    // A line of standard error split across two reads waits for its end; the title before it
    // is shown at once. A number split across reads of standard output is one number.
    void partialLinesWaitForTheirEnd()
    {
        Progress dialog(QStringLiteral("start"));
        bool titleShownFirst = false, logEmptyMeanwhile = false, barNotMovedMeanwhile = false;
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&]() {
            if (dialog.ui->lblTitle->text() == QLatin1String("Restoring") && !QFile::exists("/tmp/go")) {
                titleShownFirst = true;
                logEmptyMeanwhile = !mainLog().contains(QLatin1String("partial"));
                barNotMovedMeanwhile = dialog.ui->progressBar->value() == 0;
                Sandbox::writeFile("/tmp/go", "");
            }
        });
        probe.start(20);
        const int code = progressRun("printf 'TTT Restoring\\nLLL partial' >&2; printf '6' ;"
                                     "n=0; while [ ! -e /tmp/go ] && [ $n -lt 200 ]; do sleep 0.05; n=$((n+1)); done;"
                                     "printf ' rest\\n' >&2; printf '4\\n'", &dialog, false);
        probe.stop();
        QCOMPARE(code, 0);
        QVERIFY(titleShownFirst);
        QVERIFY(logEmptyMeanwhile);
        QVERIFY(barNotMovedMeanwhile);
        QVERIFY2(mainLog().contains(QLatin1String(" partial rest \n")), qPrintable(mainLog()));
        QCOMPARE(dialog.ui->progressBar->value(), 64);
    }

    // Runs that cannot start, fail or crash end, close the dialog they made and never report 0.
    void progressRunsAlwaysEnd()
    {
        QElapsedTimer clock;
        clock.start();
        // The codes a shell gives: 127 for a command that cannot start, 137 for one killed.
        QCOMPARE(Utils::GetInstance()->ExecuteProgressShell(QStringLiteral("no-such-install-script.sh"), {}, nullptr, true), 127);
        QCOMPARE(Utils::GetInstance()->ExecuteProgressShell(QStringLiteral("/nonexistent/tool --x"), nullptr, false), 127);
        QVERIFY(clock.elapsed() < 20000);
        QVERIFY2(mainLog().contains(QLatin1String("could not start")), qPrintable(mainLog()));
        QCOMPARE(progressRun("exit 3", nullptr, true), 3);
        QCOMPARE(progressRun("kill -9 $$", nullptr, true), 137);
        QVERIFY(waitFor([] { return visibleProgressDialogs() == 0; }));
        // The same dialog passed in stays with its owner.
        Progress kept(QStringLiteral("kept"));
        QCOMPARE(progressRun("printf '5\\n'", &kept, true), 0);
        QVERIFY(kept.isVisible());
    }

    // A run started while another waits (a timer, a status line, a management request) has its
    // own dialog, output and result; the outer run still reads its own command to the end and
    // returns its own code, not the inner one's.
    void nestedProgressRunsKeepTheirOwnState()
    {
        Progress outer(QStringLiteral("outer start")), inner(QStringLiteral("inner start"));
        int innerCode = -1;
        QTimer::singleShot(200, [&] {
            innerCode = progressRun("sleep 1.5; printf 'XXX inner\\n10\\n'", &inner, true);
        });
        const int outerCode = progressRun("printf 'XXX outer\\n'; sleep 0.5; printf '70\\n'; exit 3", &outer, true);
        QCOMPARE(outerCode, 3);
        QCOMPARE(innerCode, 0);
        QCOMPARE(outer.ui->label->text(), QString("outer"));
        QCOMPARE(outer.ui->progressBar->value(), 70);
        QCOMPARE(inner.ui->label->text(), QString("inner"));
        QCOMPARE(inner.ui->progressBar->value(), 10);
    }

    // A progress run whose wait ends before its command (the application quitting) is no
    // success: 130, at once, and the command is stopped.
    void progressRunLeftByQuittingFails()
    {
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
        const int code = progressRun("exec sleep 30.25", nullptr, true);
        const qint64 took = clock.elapsed();
        // The test goes on: leave the quitting state as the application's own loop would.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QCOMPARE(code, 130);
        QVERIFY2(took < 10000, qPrintable(QString::number(took)));
        QCOMPARE(Sandbox::sh("pgrep -fx 'sleep 30.25'").exitCode, 1);
        // Waits work again afterwards.
        QCOMPARE(progressRun("exit 4", nullptr, true), 4);
    }

    void blockingRuns()
    {
        // The command line is split like a shell would for double quotes only; no shell runs.
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("printf \"a\\n\\nb\\n\"")), QStringList({"a", "", "b"}));
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("echo a | grep b")), QStringList({"a | grep b"}));
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("true")), QStringList());
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("no-such-tool-here")), QStringList());
        // Standard error only in the debug form, which also copies the output to the side log.
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("sh"), {"-c", "echo out; echo err >&2"}), QStringList({"out"}));
        QCOMPARE(Utils::ExecuteShellDebug(QStringLiteral("sh"), {"-c", "echo out; echo err >&2"}).size(), 2);
        QVERIFY(Sandbox::readFile("/tmp/pxe-gui.log").contains("sh -c echo out; echo err >&2 out:\nout\nerr"));
        QCOMPARE(Utils::ExecutePipedShell(QStringLiteral("printf \"usb1\\nsda\\nusb2\\n\""), QStringLiteral("grep usb")),
                 QStringList({"usb1", "usb2"}));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(Utils::ExecuteShell(QStringLiteral("sleep 10.25"), 1000), QStringList());
        QVERIFY2(clock.elapsed() >= 900 && clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        // The killed command is gone (pgrep's "nothing found" is its status 1; other tests may
        // run a sleep of their own meanwhile, hence the odd length).
        QCOMPARE(Sandbox::sh("pgrep -fx 'sleep 10.25'").exitCode, 1);
        // The exit code of a blocking run, when asked for.
        int code = -1;
        Utils::ExecuteShellDebug(QStringLiteral("sh"), {"-c", "echo warning >&2; exit 3"}, 60000, &code);
        QCOMPARE(code, 3);
        Utils::ExecuteShellDebug(QStringLiteral("no-such-tool-here"), {}, 60000, &code);
        QCOMPARE(code, 127);
        Utils::ExecuteShellDebug(QStringLiteral("sleep"), {"10"}, 500, &code);
        QCOMPARE(code, 137);
        // Timers are served while a blocking run waits.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);
        Utils::ExecuteShell(QStringLiteral("sleep 1"));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void spawnedRuns()
    {
        Utils *utils = Utils::GetInstance();
        QSignalSpy finished(utils, &Utils::SpawnedThreadFinished);
        utils->SpawnShell(QStringLiteral("sh"), {"-c", "echo switched; echo to stderr >&2; exit 4"});
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.takeFirst().at(0).toInt(), 4);
        QCOMPARE(utils->spawnOutput, QStringLiteral("switched\nto stderr\n"));
        utils->SpawnShell(QStringLiteral("no-such-switch-tool"), {"-e"});
        QVERIFY(finished.count() == 1 || finished.wait(5000));
        QCOMPARE(finished.takeFirst().at(0).toInt(), 127);
    }

    // Status lines from outside reach the dialog through 127.0.0.1:43860, and nowhere else.
    void statusDatagramsMoveTheBar()
    {
        Utils::GetInstance();
        const QString sockets = QString::fromLatin1(Sandbox::sh("ss -uln").out);
        QVERIFY2(sockets.contains(QLatin1String("127.0.0.1:43860")), qPrintable(sockets));
        QVERIFY2(!sockets.contains(QLatin1String("0.0.0.0:43860")) && !sockets.contains(QLatin1String("*:43860")),
                 qPrintable(sockets));
        Progress dialog(QStringLiteral("waiting"));
        QUdpSocket sender;
        bool moved = false;
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&]() {
            if (dialog.ui->progressBar->value() == 37 && dialog.ui->label->text() == QLatin1String("Copying")) {
                moved = true;
                Sandbox::writeFile("/tmp/go", "");
            } else {
                sender.writeDatagram("XXX Copying\n\n37", QHostAddress::LocalHost, 43860);
            }
        });
        probe.start(100);
        progressRun("n=0; while [ ! -e /tmp/go ] && [ $n -lt 200 ]; do sleep 0.05; n=$((n+1)); done", &dialog, true);
        probe.stop();
        QVERIFY(moved);
        QVERIFY(Sandbox::readFile(DBG_FILE).contains("udp: 37\n"));
    }

    void mainLogLineFormat_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text and number") << 0 << "Usb mounted 1 \n";
        QTest::newRow("string list") << 1 << "findUsbDrives:UsbDrives /dev/sdb1, /dev/sdc1 \n";
        QTest::newRow("empty first item adds nothing") << 2 << "a b \n";
        QTest::newRow("empty later item keeps its blank") << 3 << "a  b \n";
        QTest::newRow("above the current level is dropped") << 4 << "";
    }

    void mainLogLineFormat()
    {
        QFETCH(int, kind);
        switch (kind) {
        case 0: Logging(2) << "Usb mounted" << 1; break;
        case 1: Logging(2) << "findUsbDrives:UsbDrives" << QStringList({"/dev/sdb1", "/dev/sdc1"}); break;
        case 2: Logging(2) << QString() << "a" << "b"; break;
        case 3: Logging(2) << "a" << QString() << "b"; break;
        case 4: Logging(3) << "never"; break;
        }
        QTEST(mainLog(), "expected");
    }

    void styleSheetFontRewrite()
    {
        writeStyleSheet(16);
        Utils::UpdateDefaultFontSize(22, QString());
        const QString sheet = QString::fromLatin1(Sandbox::readFile("/root/.config/default.css"));
        QCOMPARE(sheet.count(QLatin1String("font: 63 22pt")), 2);
        QVERIFY(!sheet.contains(QLatin1String("16pt")));
        QVERIFY(sheet.contains(QLatin1String("QLabel { color: rgb(0, 0, 80); }")));
        QLabel label;
        Utils::SetDefaultStyleSheet(&label, QString());
        QCOMPARE(label.styleSheet(), sheet);
    }

    void filesReadAndWritten()
    {
        Utils::setBusyFlag();
        QCOMPARE(Sandbox::readFile(RCV_PID), QByteArray::number(QCoreApplication::applicationPid()));
        Utils::clearBusyFlag();
        QVERIFY(!QFile::exists(RCV_PID));
        // Status files are read no further than they are shown, and a FIFO in their place
        // (nobody writing) gives nothing at once instead of a hang.
        Sandbox::writeFile("/tmp/huge", QByteArray(4 << 20, 'x'));
        QCOMPARE(Utils::ReadFileHead("/tmp/huge").size(), 512);
        QCOMPARE(Sandbox::sh("mkfifo /tmp/fifo").exitCode, 0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(Utils::ReadFileHead("/tmp/fifo"), QByteArray());
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(Utils::ReadFileHead("/tmp/missing"), QByteArray());
    }
};

QTEST_MAIN(TestUtils)
#include "tst_utils.moc"
