// The tool runner: real child processes print progress the way the imaging tools do (carriage
// returns, lines cut between reads, new passes, tar checkpoints, task lines), generated pipelines
// report their stages' codes, and the watchdog counts silence.
#include "basebrhandler.h"
#include "capture.h"
#include "imageset.h"
#include "sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

static QList<int> gaugeValues()
{
    QList<int> values;
    const QString text = QString::fromLocal8Bit(Sandbox::readFile("/tmp/gauge.log"));
    static const QRegularExpression re(QStringLiteral("UpdateGauge: (\\d+), , "));
    auto it = re.globalMatch(text);
    while (it.hasNext())
        values << it.next().captured(1).toInt();
    return values;
}

static QStringList fileLines(const QString &path)
{
    QStringList lines = QString::fromLocal8Bit(Sandbox::readFile(path)).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Debug-log lines without their time stamp.
static QStringList debugLines()
{
    QStringList lines;
    for (QString line : fileLines("/var/log/vtl_debug.log"))
        lines << line.remove(QRegularExpression(QStringLiteral("^\\[[0-9/: ]+\\] ")));
    return lines;
}

class TstBaseBrHandler : public QObject
{
    Q_OBJECT
    baseBrHandler *runner = nullptr;
    int scriptNumber = 0;

    // Runs a bash script as the child, with /tmp/run.log as the run's log.
    int runScript(const QString &body, const QString &log = QStringLiteral("/tmp/run.log"))
    {
        const QString path = QStringLiteral("/tmp/child-%1.sh").arg(++scriptNumber);
        Sandbox::writeFile(path, ("#!/bin/bash\n" + body + "\n").toUtf8());
        return runner->ExecuteAndWait(QStringLiteral("bash"), {path}, log, QString());
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        runner = new baseBrHandler;
    }

    void init()
    {
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task",
                              "/var/log/rcv_status", "/tmp/gauge.log", "/tmp/run.log"})
            QFile::remove(f);
        SystemUtils::guiType = 3;
    }

    void carriageReturnsMakeLines()
    {
        // Both redraws arrive in one read; the empty rest after the last \r is the pending line.
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(runScript("printf '5.00 percent completed\\r9.00 percent completed\\r'; sleep 0.3"), 0);
        });
        QCOMPARE(gaugeValues(), (QList<int>{5, 9}));
        QCOMPARE(QString::fromLocal8Bit(out), QString("5.00 percent completed\n"));
        QCOMPARE(runner->pendingOut, QString());
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("9.00 percent completed\n"));
        QVERIFY(!QFile::exists("/tmp/run.log"));   // progress lines never reach the run's log
    }

    void lineCutBetweenReads()
    {
        // Cut inside the word percent, and inside a two-byte character of a plain line.
        captureFd(1, [&] {
            QCOMPARE(runScript("printf '42.00 per'; sleep 0.4; printf 'cent completed\\n'; "
                               "printf 'Gr\\xc3'; sleep 0.4; printf '\\xbc\\xc3\\x9fe\\n'"), 0);
        });
        QCOMPARE(gaugeValues(), QList<int>{42});
        QCOMPARE(fileLines("/tmp/run.log"), QStringList{QString::fromUtf8("Grüße")});
    }

    void lastLineWithoutLineEnd()
    {
        captureFd(1, [&] { QCOMPARE(runScript("printf 'done without end'"), 0); });
        QCOMPARE(fileLines("/tmp/run.log"), QStringList{"done without end"});
    }

    void newPassAfterHundredPercent()
    {
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(runScript("for p in 50 100 0.1 0.2 0.25 0.5; do echo \"$p percent completed\"; sleep 0.05; done"), 0);
        });
        // Console: one line per 10 % band; the new pass is echoed at once.
        QCOMPARE(QString::fromLocal8Bit(out),
                 QString("50 percent completed\n100 percent completed\n0.1 percent completed\n"));
        QCOMPARE(fileLines("/var/log/recovery.log"),
                 (QStringList{"50 percent completed", "100 percent completed", "0.1 percent completed"}));
        // Status: only moves of more than 0.2 %.
        const QStringList debug = debugLines();
        for (const char *written : {"50 percent completed", "100 percent completed", "0.25 percent completed",
                                    "0.5 percent completed"})
            QVERIFY2(debug.contains(written), written);
        for (const char *skipped : {"0.1 percent completed", "0.2 percent completed"})
            QVERIFY2(!debug.contains(skipped), skipped);
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("0.5 percent completed\n"));
        // Gauge: back to 0 after the pass, then 1 at 0.5 (halves round away from zero).
        QCOMPARE(gaugeValues(), (QList<int>{50, 100, 1}));
    }

    void freshRunEchoBands()
    {
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(runScript("for p in 5 9 11 25; do echo \"  $p.00 Percent completed\"; done"), 0);
        });
        QCOMPARE(QString::fromLocal8Bit(out),
                 QString("  5.00 Percent completed\n  11.00 Percent completed\n  25.00 Percent completed\n"));
        QCOMPARE(gaugeValues(), (QList<int>{5, 9, 11, 25}));
    }

    void notANumberIsIgnored()
    {
        const QByteArray out = captureFd(1, [&] { QCOMPARE(runScript("echo 'about 40 percent done'"), 0); });
        QVERIFY(out.isEmpty());
        QVERIFY(gaugeValues().isEmpty());
        QVERIFY(!QFile::exists("/var/log/rcv_status"));
    }

    void tarCheckpoints()
    {
        // A real tar run: every checkpoint line it prints is one percent, whatever its number.
        QCOMPARE(Sandbox::sh("mkdir -p /tmp/tree && head -c 300000 /dev/urandom > /tmp/tree/a && "
                             "head -c 200000 /dev/urandom > /tmp/tree/b").exitCode, 0);
        const Sandbox::Result oracle = Sandbox::sh("tar -c -C /tmp/tree . --checkpoint=5 2>&1 >/dev/null | grep -c checkpoint");
        const int expected = oracle.out.trimmed().toInt();
        QVERIFY(expected >= 5);
        captureFd(1, [&] { QCOMPARE(runScript("tar -c -C /tmp/tree . --checkpoint=5 > /dev/null"), 0); });
        QCOMPARE(runner->checkpointCount, expected);
        QList<int> steps;
        for (int i = 1; i <= expected; ++i)
            steps << i;
        QCOMPARE(gaugeValues(), steps);

        QFile::remove("/tmp/gauge.log");
        captureFd(1, [&] { QCOMPARE(runScript("echo 'tar: Read checkpoint 9990' >&2"), 0); });
        QCOMPARE(runner->checkpointCount, 1);
        QCOMPARE(gaugeValues(), QList<int>{1});
    }

    void taskLinesWithThreeDots()
    {
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(runScript("echo 'Relocating needed data ...'; echo 'Checking filesystem consistency'"), 0);
        });
        QCOMPARE(QString::fromLocal8Bit(out),
                 QString("Relocating needed data ...\nChecking filesystem consistency\n"));
        QCOMPARE(fileLines("/tmp/run.log"),
                 (QStringList{"Relocating needed data ...", "Checking filesystem consistency"}));
        QCOMPARE(fileLines("/var/log/recovery.log"), QStringList{"Relocating needed data ..."});
        QVERIFY(debugLines().contains("Relocating needed data ..."));
        QVERIFY(!debugLines().contains("Checking filesystem consistency"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Relocating needed data ...\n"));

        // With the debug log as the run's log the task line lands there twice.
        QFile::remove("/var/log/vtl_debug.log");
        captureFd(1, [&] { QCOMPARE(runScript("echo 'Syncing ...'", "/var/log/vtl_debug.log"), 0); });
        QCOMPARE(debugLines().count("Syncing ..."), 2);
    }

    void pipelineStatus_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("expected");
        QTest::newRow("0 0 141") << "echo '0 0 141' > /tmp/.pxe-exec/pipe-status" << 141;
        QTest::newRow("0 abc") << "echo '0 abc' > /tmp/.pxe-exec/pipe-status" << 1;
        QTest::newRow("0 0") << "echo '0 0' > /tmp/.pxe-exec/pipe-status" << 0;
        QTest::newRow("no status file") << "true" << 0;
        QTest::newRow("own exit code wins") << "echo '0 3' > /tmp/.pxe-exec/pipe-status; exit 7" << 7;
    }
    void pipelineStatus()
    {
        QFETCH(QString, script);
        QFETCH(int, expected);
        QDir().mkpath("/tmp/.pxe-exec");
        captureFd(1, [&] { QCOMPARE(runScript(script), expected); });
    }

    void generatedPipelines()
    {
        // Real pipelines written by CreateExecutableFile, run through their script path alone.
        const QString failing = runner->CreateExecutableFile(
            {{"true", {}}, {"printf", {"'%s\\n'", "abc"}}, {"bash", {"-c", "'cat >/dev/null; exit 141'"}}});
        QCOMPARE(runner->ExecuteAndWait(failing, {}, "/tmp/run.log", QString()), 141);
        QCOMPARE(Sandbox::readFile(SystemUtils::pipeStatus), QByteArray("0 0 141\n"));

        // The status of that run must not leak into the next one.
        const QString plain = "/tmp/plain.sh";
        Sandbox::writeFile(plain, "#!/bin/bash\necho fine\n");
        QFile::setPermissions(plain, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        captureFd(1, [&] { QCOMPARE(runner->ExecuteAndWait(plain, {}, "/tmp/run.log", QString()), 0); });

        const QString good = runner->CreateExecutableFile({{"head", {"-c", "100000", "/dev/zero"}}, {"gzip", {"-c"}},
                                                           {"wc", {"-c", ">", "/tmp/count"}}});
        QCOMPARE(runner->ExecuteAndWait(good, {}, "/tmp/run.log", QString()), 0);
        QVERIFY(Sandbox::readFile("/tmp/count").trimmed().toInt() > 0);
    }

    void programThatDoesNotStart()
    {
        QByteArray err = captureFd(2, [&] {
            QCOMPARE(runner->ExecuteAndWait("/nonexistent/tool", {"x"}, "/tmp/run.log", QString()), 1006);
        });
        QVERIFY(err.contains("ERROR REPORTED 0"));
        QVERIFY(fileLines("/var/log/recovery.log").contains("ERROR REPORTED 0"));
    }

    void datagramsAreServedWhileWaiting()
    {
        // The first SystemUtils of the process owns the status socket; a pipeline stage that
        // reports over it reaches the gauge while the runner waits. The stage stays until the
        // kernel's queue of the socket is empty again (read by the runner), 30 s at most: a
        // datagram read only after the stage ended fails the run's status.
        captureFd(2, [&] {
            QCOMPARE(runScript("printf ' 33 percent completed' > /dev/udp/127.0.0.1/43850\n"
                               "for i in $(seq 600); do\n"
                               "    [ \"$(ss -u -a -n -H 'sport = :43850' | awk '{print $2}')\" = 0 ] && exit 0\n"
                               "    sleep 0.05\n"
                               "done\n"
                               "exit 1"),
                     0);
        });
        QCOMPARE(gaugeValues(), QList<int>{33});
    }

    void watchdog()
    {
        runner->watchdogTicks = 0;
        for (int i = 0; i < baseBrHandler::WATCHDOG_LIMIT; ++i)
            runner->OnTimerTimeout();
        QVERIFY(!debugLines().join('\n').contains("WATCHDOG"));
        runner->OnTimerTimeout();
        runner->OnTimerTimeout();
        QCOMPARE(debugLines().filter("WATCHDOG TIMER TRIP").size(), 2);
        QVERIFY(debugLines().contains("WATCHDOG TIMER TRIP 101"));

        // Real time: silence counts up, output resets the count.
        QCOMPARE(runScript("sleep 2.6"), 0);
        QVERIFY2(runner->watchdogTicks >= 2, qPrintable(QString::number(runner->watchdogTicks)));
        captureFd(1, [&] {
            QCOMPARE(runScript("for i in 1 2 3 4 5 6 7; do echo tick; sleep 0.4; done"), 0);
        });
        QVERIFY2(runner->watchdogTicks <= 1, qPrintable(QString::number(runner->watchdogTicks)));
    }

    // A pipeline that moves no byte for the stall time is stopped as a failure naming the tool
    // that hangs (the abort file stops one the same way: see the backup tests). `sleep 307`
    // stands for a tool stuck on a failing drive; gzip behind it only waits for its input.
    void stalledPipelines()
    {
        const QString hanging = runner->CreateExecutableFile({{"sleep", {"307"}}, {"gzip", {"-c", ">", "/tmp/hang.gz"}}});
        int code = -1;
        QElapsedTimer t;
        runner->stallSeconds = 2;
        t.start();
        const QByteArray out = captureFd(1, [&] { code = runner->ExecuteAndWait(hanging, {}, "/tmp/run.log", QString()); });
        QCOMPARE(code, baseBrHandler::RUN_STALLED);
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QVERIFY2(out.contains("ERROR: sleep made no progress for 2 seconds and was stopped"), out.constData());
        QCOMPARE(Sandbox::sh("pgrep -f '^sleep 307$'").exitCode, 1);

        // A slow pipeline that keeps moving data is no stalled one.
        const QString slow = runner->CreateExecutableFile(
            {{"bash", {"-c", "'for i in $(seq 10); do head -c 100000 /dev/urandom; sleep 0.5; done'"}},
             {"gzip", {"-c", ">", "/tmp/slow.gz"}}});
        QCOMPARE(runner->ExecuteAndWait(slow, {}, "/tmp/run.log", QString()), 0);
        runner->stallSeconds = baseBrHandler::DEFAULT_STALL_SECONDS;
    }

    // Pieces go on past three digits (x.999, x.1000) and are joined back in number order.
    void piecesPastThreeDigits()
    {
        QDir().mkpath("/tmp/split");
        QCOMPARE(Sandbox::sh("head -c 1025024 /dev/urandom > /tmp/split/in").exitCode, 0);   // 1001 KiB
        const QString cut = runner->CreateExecutableFile({{"cat", {"/tmp/split/in"}}, baseBrHandler::SplitStage("/tmp/split/x", 1024)});
        QCOMPARE(runner->ExecuteAndWait(cut, {}, "/tmp/run.log", QString()), 0);
        const QStringList pieces = ImageSet("/tmp/split/x").numberedPieces();
        QCOMPARE(pieces.size(), 1001);
        QCOMPARE(pieces.at(0), QString("/tmp/split/x.000"));
        QCOMPARE(pieces.at(999), QString("/tmp/split/x.999"));
        QCOMPARE(pieces.at(1000), QString("/tmp/split/x.1000"));
        const QString join = runner->CreateExecutableFile({baseBrHandler::PiecesStage(pieces), {"cmp", {"-", "/tmp/split/in"}}});
        QCOMPARE(runner->ExecuteAndWait(join, {}, "/tmp/run.log", QString()), 0);
    }

    void splitSizes_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<uint>("mb");
        QTest::newRow("2000") << QByteArray("2000") << 2000u;
        QTest::newRow("abc") << QByteArray("abc") << 1024u;
        QTest::newRow("unset") << QByteArray() << 1024u;
        QTest::newRow("0") << QByteArray("0") << 1024u;
        QTest::newRow("over 4 GiB") << QByteArray("8000") << 4095u;   // a FAT32 stick holds no larger file
    }
    void splitSizes()
    {
        QFETCH(QByteArray, value);
        QFETCH(uint, mb);
        if (value.isNull())
            qunsetenv("SPLIT_SIZE");
        else
            qputenv("SPLIT_SIZE", value);
        baseBrHandler handler;
        qunsetenv("SPLIT_SIZE");
        QCOMPARE(handler.splitSizeMb, mb);
        QCOMPARE(handler.splitBytes, quint64(mb) * 1048576ULL);
        handler.setSplitSizes(1);
        QCOMPARE(handler.splitBytes, quint64(1048576));
    }
};

QTEST_GUILESS_MAIN(TstBaseBrHandler)
#include "tst_basebrhandler.moc"
