// bootwatch run as real daemon processes in the sandbox: real request files in /tmp/pxe, test
// doubles for the LAN boot scripts that record every call, kill starts, the exit file, and daemons
// killed with SIGKILL. The shared segment is read back through `ipcs` and the kernel's own
// System V calls, not through the daemon's code.
#include "sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <sys/shm.h>
#include <unistd.h>

static const QString PXE = QStringLiteral("/tmp/pxe");
static const QString CALLS = QStringLiteral("/tmp/pxe-calls.log");
static const QString SCRIPT_PIDS = QStringLiteral("/tmp/pxe-script-pids");
static const QString SLOW = QStringLiteral("/tmp/pxe-slow-scripts");
static const QString LOCK_FILE = QStringLiteral("/var/lock/bootwatch.lock");

// How long a test waits for something that must happen: generous, for CI runs two suites at once
// next to a compression, and a wait ends as soon as the event is there. Checks that something
// does NOT happen (a daemon that must keep running) keep their short watch instead.
static const int EVENT_CEILING = 30000;

// Each call is one line: the script's name, then every argument in brackets, so that a command
// split wrongly ("[-e -d]", "[]") shows. With the SLOW marker the script stays running.
static const QString DOUBLE = QStringLiteral(
    "#!/bin/sh\n"
    "line=$(basename \"$0\"); for a in \"$@\"; do line=\"$line [$a]\"; done\n"
    "printf '%s\\n' \"$line\" >> /tmp/pxe-calls.log\n"
    "echo $$ >> /tmp/pxe-script-pids\n"
    "[ -f /tmp/pxe-slow-scripts ] && exec sleep 60\n"
    "exit 0\n");

static QString bootwatch() { return Sandbox::binDir() + "/bootwatch"; }

// The daemon finds its scripts on this PATH: the doubles, then the system, but not the build's
// own service scripts, so a missing double really is a missing script.
static QString scriptPath() { return Sandbox::doublesDir() + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"; }

static bool waitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

static QStringList calls()
{
    return QString::fromLocal8Bit(Sandbox::readFile(CALLS)).split('\n', Qt::SkipEmptyParts);
}

// A start of bootwatch that must end by itself (a kill start, a second start); one that is still
// running at the ceiling is killed and reported as timed out.
static Sandbox::Result runBootwatch(const QStringList &args)
{
    return Sandbox::run(bootwatch(), args, QByteArray(), {"PATH=" + scriptPath()}, EVENT_CEILING);
}

// One System V segment as the kernel lists it, with its first byte read through our own read-only
// attachment (taken only after nattch was read).
struct Segment {
    int id = -1;
    qint64 bytes = 0;
    int attached = -1;
    int stopByte = -1;
};

static QList<Segment> segments()
{
    QList<Segment> list;
    const Sandbox::Result r = Sandbox::run("ipcs", {"-m"});
    for (const QString &line : QString::fromLocal8Bit(r.out).split('\n')) {
        const QStringList f = line.simplified().split(' ');
        if (f.size() < 6 || !f.at(0).startsWith("0x"))
            continue;
        Segment s;
        s.id = f.at(1).toInt();
        s.bytes = f.at(4).toLongLong();
        s.attached = f.at(5).toInt();
        void *p = shmat(s.id, nullptr, SHM_RDONLY);
        if (p != reinterpret_cast<void *>(-1)) {
            s.stopByte = *static_cast<const unsigned char *>(p);
            shmdt(p);
        }
        list << s;
    }
    return list;
}

// A daemon started by the test; killed with SIGKILL if a test leaves it running.
class Daemon
{
public:
    explicit Daemon(const QStringList &args = QStringList())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", scriptPath());
        p.setProcessEnvironment(env);
        p.start(bootwatch(), args);
        p.waitForStarted(EVENT_CEILING);
    }
    ~Daemon()
    {
        if (p.state() != QProcess::NotRunning) {
            ::kill(pid(), SIGKILL);
            p.waitForFinished(5000);
        }
    }
    qint64 pid() const { return p.processId(); }

    // The folder watch exists once the kernel lists an inotify watch for the process.
    bool watching() const
    {
        const QDir fds(QString("/proc/%1/fdinfo").arg(pid()));
        for (const QString &fd : fds.entryList(QDir::Files))
            if (Sandbox::readFile(fds.filePath(fd)).contains("inotify wd:"))
                return true;
        return false;
    }
    bool waitReady() { return waitUntil([this] { return p.state() == QProcess::Running && watching(); }, EVENT_CEILING); }
    // True when the daemon ends within ms.
    bool ends(int ms) { return p.state() == QProcess::NotRunning || p.waitForFinished(ms); }
    bool endedWithZero() const { return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0; }
    QString err()
    {
        errText += QString::fromLocal8Bit(p.readAllStandardError());
        return errText;
    }
    // Whether the daemon has written text to its error output (given time to arrive).
    bool said(const QString &text)
    {
        return waitUntil([&] { return err().contains(text); }, EVENT_CEILING);
    }
    void signal(int sig) { ::kill(pid(), sig); }

    // Ends the daemon as a technician would (a kill start) and proves that it went.
    void stop()
    {
        const Sandbox::Result r = runBootwatch({"--kill"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(ends(EVENT_CEILING), "the daemon did not end after a kill start");
        QVERIFY(endedWithZero());
    }

private:
    QProcess p;
    QString errText;
};

static void request(const QString &name, const QByteArray &content = QByteArray())
{
    QVERIFY(Sandbox::writeFile(PXE + "/" + name, content));
}

class TstBootwatch : public QObject
{
    Q_OBJECT
    bool lockFolderMounted = false;

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QVERIFY(QFileInfo(bootwatch()).isExecutable());
    }

    void init()
    {
        QDir(PXE).removeRecursively();
        QVERIFY(QDir().mkpath(PXE));
        for (const QString &f : {CALLS, SCRIPT_PIDS, SLOW})
            QFile::remove(f);
        QVERIFY(!Sandbox::writeDouble("get_pxeswitch.sh", DOUBLE).isEmpty());
        QVERIFY(!Sandbox::writeDouble("set_pxeswitch.sh", DOUBLE).isEmpty());
        // A test that failed half-way may leave a killed daemon's segment: start each test clean.
        Sandbox::run("ipcrm", {"--all=shm"});
        QVERIFY(segments().isEmpty());
    }

    void cleanup()
    {
        if (lockFolderMounted) {
            Sandbox::run("umount", {"/var/lock"});
            lockFolderMounted = false;
        }
        // Scripts kept running by the SLOW marker.
        for (const QString &pid : QString::fromLatin1(Sandbox::readFile(SCRIPT_PIDS)).split('\n', Qt::SkipEmptyParts))
            ::kill(pid.toInt(), SIGKILL);
    }

    void requestStartsItsCommandOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("call");
        QTest::newRow("getpxeswitch") << "getpxeswitch" << QByteArray() << "get_pxeswitch.sh";
        QTest::newRow("setpxeswitch") << "setpxeswitch" << QByteArray() << "set_pxeswitch.sh [-e]";
        QTest::newRow("clearpxeswitch") << "clearpxeswitch" << QByteArray() << "set_pxeswitch.sh [-d]";
        QTest::newRow("contents are not read") << "getpxeswitch" << QByteArray("clearpxeswitch\n-d\nexit\n")
                                               << "get_pxeswitch.sh";
        QTest::newRow("large contents") << "setpxeswitch" << QByteArray(256 * 1024, 'x') << "set_pxeswitch.sh [-e]";
    }
    void requestStartsItsCommandOnce()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, call);
        Daemon d;
        QVERIFY(d.waitReady());
        request(name, content);
        QVERIFY2(waitUntil([&] { return !QFile::exists(PXE + "/" + name); }, EVENT_CEILING), "the request file stayed");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QVERIFY(!d.ends(1500));  // also gives a second start of the command time to show
        QCOMPARE(calls(), QStringList{call});
        QCOMPARE(QDir(PXE).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QVERIFY(d.said("onDirChange \"/tmp/pxe\"\n"));
        QVERIFY(d.said("onWatcherEvent \"/tmp/pxe/" + name + "\"\n"));
        d.stop();
    }

    // Requests present together start their scripts one after another without waiting for any.
    void severalRequestsAtOnce()
    {
        Daemon d;
        QVERIFY(d.waitReady());
        QVERIFY(Sandbox::writeFile(SLOW, QByteArray()));
        request("setpxeswitch");
        request("clearpxeswitch");
        request("getpxeswitch");
        QVERIFY(waitUntil([] { return calls().size() >= 3; }, EVENT_CEILING));
        QVERIFY(!d.ends(1500));
        QStringList got = calls();
        got.sort();
        QCOMPARE(got, (QStringList{"get_pxeswitch.sh", "set_pxeswitch.sh [-d]", "set_pxeswitch.sh [-e]"}));
        QCOMPARE(QDir(PXE).entryList(QDir::Files), QStringList());
        d.stop();
    }

    void otherNamesStayUntouched()
    {
        const QStringList files{"GetPxeSwitch", "SETPXESWITCH", "Exit", "getpxeswitch.txt", "setpxeswitch.sh",
                                "exit.now", "clearpxeswitch~", ".getpxeswitch", " getpxeswitch", "notes"};
        const QStringList folders{"setpxeswitch", "exit"};
        Daemon d;
        QVERIFY(d.waitReady());
        for (const QString &f : files)
            request(f, "x");
        for (const QString &f : folders)
            QVERIFY(QDir().mkpath(PXE + "/" + f));
        // A real request afterwards proves that the daemon did look at the folder.
        request("clearpxeswitch");
        QVERIFY(waitUntil([] { return !QFile::exists(PXE + "/clearpxeswitch"); }, EVENT_CEILING));
        QVERIFY2(!d.ends(1500), "a folder or a look-alike name stopped the daemon");
        QCOMPARE(calls(), QStringList{"set_pxeswitch.sh [-d]"});
        for (const QString &f : files)
            QVERIFY2(QFileInfo(PXE + "/" + f).isFile(), qPrintable(f));
        for (const QString &f : folders)
            QVERIFY2(QFileInfo(PXE + "/" + f).isDir(), qPrintable(f));
        d.stop();
    }

    void exitFileEndsTheDaemon_data()
    {
        QTest::addColumn<bool>("withRequest");
        QTest::newRow("exit alone") << false;
        QTest::newRow("request arriving with the exit is still served") << true;
    }
    void exitFileEndsTheDaemon()
    {
        QFETCH(bool, withRequest);
        Daemon d;
        QVERIFY(d.waitReady());
        // Both files are there before the daemon looks (it is held while they are made), so
        // the row does not depend on where its one-second tick falls between them.
        if (withRequest)
            d.signal(SIGSTOP);
        request("exit");
        if (withRequest) {
            request("getpxeswitch");
            d.signal(SIGCONT);
        }
        QVERIFY2(d.ends(EVENT_CEILING), "the daemon kept running after an exit file");
        QVERIFY(d.endedWithZero());
        QVERIFY(!QFile::exists(PXE + "/exit"));
        QVERIFY(d.said("onWatcherEvent \"/tmp/pxe/exit\""));
        if (withRequest) {
            QVERIFY(!QFile::exists(PXE + "/getpxeswitch"));
            QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
            QCOMPARE(calls(), QStringList{"get_pxeswitch.sh"});
        } else {
            QCOMPARE(calls(), QStringList());
        }
        QVERIFY2(segments().isEmpty(), "the ended daemon left its segment behind");
    }

    void killStartEndsTheDaemon_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("--kill") << QStringList{"--kill"};
        QTest::newRow("-k") << QStringList{"-k"};
        QTest::newRow("kill") << QStringList{"kill"};
        QTest::newRow("k") << QStringList{"k"};
        QTest::newRow("----kill") << QStringList{"----kill"};
        QTest::newRow("only the first argument counts") << QStringList{"-k", "-x"};
    }
    void killStartEndsTheDaemon()
    {
        QFETCH(QStringList, args);
        Daemon d;
        QVERIFY(d.waitReady());
        const Sandbox::Result r = runBootwatch(args);
        QVERIFY2(!r.timedOut, "the kill start did not end");
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(d.ends(EVENT_CEILING), "the daemon kept running after a kill start");
        QVERIFY(d.endedWithZero());
        QVERIFY(segments().isEmpty());
    }

    void killStartWithoutDaemonChangesNothing_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::newRow("-k") << "-k";
        QTest::newRow("--kill") << "--kill";
    }
    void killStartWithoutDaemonChangesNothing()
    {
        QFETCH(QString, arg);
        QFile::remove(LOCK_FILE);
        request("getpxeswitch");
        const Sandbox::Result r = runBootwatch({arg});
        QVERIFY2(!r.timedOut, "the kill start waited for a daemon that does not exist");
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.contains("no daemon is running"));
        QVERIFY(segments().isEmpty());
        QVERIFY(!QFile::exists(LOCK_FILE));
        QVERIFY(QFile::exists(PXE + "/getpxeswitch"));
        QTest::qWait(300);
        QCOMPARE(calls(), QStringList());
    }

    void otherArgumentsStartADaemon_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no argument") << QStringList();
        QTest::newRow("-K") << QStringList{"-K"};
        QTest::newRow("-x") << QStringList{"-x"};
        QTest::newRow("--KILL") << QStringList{"--KILL"};
        QTest::newRow("--killer") << QStringList{"--killer"};
        QTest::newRow("-k-") << QStringList{"-k-"};
        QTest::newRow("first argument is not the kill word") << QStringList{"-x", "--kill"};
    }
    void otherArgumentsStartADaemon()
    {
        QFETCH(QStringList, args);
        Daemon d(args);
        QVERIFY2(d.waitReady(), "no daemon came up");
        request("getpxeswitch");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QVERIFY(!d.ends(1200));
        QCOMPARE(calls(), QStringList{"get_pxeswitch.sh"});
        d.stop();
    }

    // A second daemon on the same folder would start every request's script twice.
    void secondPlainStartEndsAtOnce_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no argument") << QStringList();
        QTest::newRow("-x") << QStringList{"-x"};
    }
    void secondPlainStartEndsAtOnce()
    {
        QFETCH(QStringList, args);
        Daemon d;
        QVERIFY(d.waitReady());
        const Sandbox::Result r = runBootwatch(args);
        QVERIFY2(!r.timedOut, "the second start became a daemon");
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.contains(QString("a daemon is already running (pid %1)").arg(d.pid()).toLocal8Bit()));
        const QList<Segment> segs = segments();
        QCOMPARE(segs.size(), 1);
        QCOMPARE(segs.first().attached, 1);
        QCOMPARE(segs.first().stopByte, 0);

        request("setpxeswitch");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QVERIFY(!d.ends(1500));
        QCOMPARE(calls(), QStringList{"set_pxeswitch.sh [-e]"});
        d.stop();
    }

    void simultaneousStartsLeaveOneDaemon()
    {
        Daemon a;
        Daemon b;
        QVERIFY(waitUntil([&] { return a.ends(0) || b.ends(0); }, EVENT_CEILING));
        Daemon &survivor = a.ends(0) ? b : a;
        Daemon &quitter = a.ends(0) ? a : b;
        QVERIFY(quitter.endedWithZero());
        QVERIFY(quitter.said("a daemon is already running"));
        QVERIFY(survivor.waitReady());
        request("clearpxeswitch");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QVERIFY(!survivor.ends(1500));
        QCOMPARE(calls(), QStringList{"set_pxeswitch.sh [-d]"});
        survivor.stop();
    }

    // A daemon killed with SIGKILL leaves its segment: later starts must see that nothing runs.
    void startAfterSigkill()
    {
        {
            Daemon killed;
            QVERIFY(killed.waitReady());
            killed.signal(SIGKILL);
            QVERIFY(killed.ends(EVENT_CEILING));
        }
        QList<Segment> segs = segments();
        QCOMPARE(segs.size(), 1);
        QCOMPARE(segs.first().attached, 0);
        QCOMPARE(segs.first().stopByte, 0);

        const Sandbox::Result k = runBootwatch({"-k"});
        QCOMPARE(k.exitCode, 0);
        QVERIFY(k.err.contains("no daemon is running"));
        segs = segments();
        QCOMPARE(segs.size(), 1);
        QCOMPARE(segs.first().stopByte, 0);

        Daemon d;
        QVERIFY2(d.waitReady(), "the leftover segment kept the next start from becoming the daemon");
        QCOMPARE(segments().first().attached, 1);
        request("getpxeswitch");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QVERIFY(!d.ends(1200));
        QCOMPARE(calls(), QStringList{"get_pxeswitch.sh"});
        d.stop();
        QVERIFY2(segments().isEmpty(), "the segment taken over was not removed at the end");
    }

    // The stop byte is left at 1 by a kill start whose daemon was killed before its next tick.
    void stopByteLeftAtOneIsCleared()
    {
        {
            Daemon frozen;
            QVERIFY(frozen.waitReady());
            frozen.signal(SIGSTOP);
            QCOMPARE(runBootwatch({"--kill"}).exitCode, 0);
            QCOMPARE(segments().first().stopByte, 1);
            frozen.signal(SIGKILL);
            QVERIFY(frozen.ends(EVENT_CEILING));
        }
        QList<Segment> segs = segments();
        QCOMPARE(segs.size(), 1);
        QCOMPARE(segs.first().attached, 0);
        QCOMPARE(segs.first().stopByte, 1);

        Daemon d;
        QVERIFY(d.waitReady());
        QCOMPARE(segments().first().stopByte, 0);
        QVERIFY2(!d.ends(2500), "the daemon obeyed a stale stop byte");
        request("clearpxeswitch");
        QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
        QCOMPARE(calls(), QStringList{"set_pxeswitch.sh [-d]"});
        d.stop();
    }

    void missingScriptStillDeletesItsFile_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("not installed") << false;
        QTest::newRow("not executable") << true;
    }
    void missingScriptStillDeletesItsFile()
    {
        QFETCH(bool, present);
        const QString script = Sandbox::doublesDir() + "/set_pxeswitch.sh";
        if (present)
            QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        else
            QVERIFY(QFile::remove(script));
        Daemon d;
        QVERIFY(d.waitReady());
        request("setpxeswitch");
        QVERIFY(waitUntil([] { return !QFile::exists(PXE + "/setpxeswitch"); }, EVENT_CEILING));
        QVERIFY(d.said("cannot start set_pxeswitch.sh -e"));
        QVERIFY(!d.ends(1200));
        request("getpxeswitch");
        QVERIFY2(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING), "the daemon stopped serving");
        QCOMPARE(calls(), QStringList{"get_pxeswitch.sh"});
        d.stop();
    }

    // The daemon does not make the folder; it keeps running, says why nothing happens, and can
    // still be stopped.
    void missingRequestFolder()
    {
        QVERIFY(QDir(PXE).removeRecursively());
        Daemon d;
        QVERIFY(d.said("/tmp/pxe does not exist"));
        QVERIFY(!d.ends(1500));
        QVERIFY(QDir().mkpath(PXE));
        request("getpxeswitch");
        request("exit");
        QVERIFY(!d.ends(2000));
        QVERIFY(QFile::exists(PXE + "/getpxeswitch"));
        QVERIFY(QFile::exists(PXE + "/exit"));
        QCOMPARE(calls(), QStringList());
        d.stop();
    }

    // A script still running when its daemon ends must not hold the daemon's lock.
    void scriptOutlivingTheDaemon()
    {
        QVERIFY(Sandbox::writeFile(SLOW, QByteArray()));
        {
            Daemon first;
            QVERIFY(first.waitReady());
            request("getpxeswitch");
            QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
            request("exit");
            QVERIFY(first.ends(EVENT_CEILING));
            QVERIFY(first.endedWithZero());
        }
        const int scriptPid = QString::fromLatin1(Sandbox::readFile(SCRIPT_PIDS)).trimmed().toInt();
        QVERIFY(scriptPid > 0);
        QCOMPARE(::kill(scriptPid, 0), 0);
        Daemon next;
        QVERIFY2(next.waitReady(), "a script left running kept the next start from becoming the daemon");
        QVERIFY(!next.err().contains("already running"));
        next.stop();
    }

    // Whoever holds the lock counts as the running daemon: a plain start leaves, and a kill start
    // that cannot reach its stop byte says so instead of reporting success.
    void lockHolderCountsAsDaemon()
    {
        const int fd = ::open(LOCK_FILE.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        QCOMPARE(::fcntl(fd, F_SETLK, &fl), 0);

        const Sandbox::Result plain = runBootwatch({});
        const Sandbox::Result kill = runBootwatch({"--kill"});
        ::close(fd);
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(plain.err.contains(QString("a daemon is already running (pid %1)").arg(::getpid()).toLocal8Bit()));
        QCOMPARE(kill.exitCode, 1);
        QVERIFY(kill.err.contains("a daemon runs but its stop byte cannot be reached"));
        QVERIFY(segments().isEmpty());
    }

    // Without a usable lock folder the segment alone tells whether a daemon runs.
    void unusableLockFolder()
    {
        QFile::remove(LOCK_FILE);
        QCOMPARE(Sandbox::run("mount", {"-t", "tmpfs", "-o", "ro", "tmpfs", "/var/lock"}).exitCode, 0);
        lockFolderMounted = true;
        {
            Daemon d;
            QVERIFY(d.waitReady());
            QVERIFY(d.said("cannot open /var/lock/bootwatch.lock"));
            const Sandbox::Result second = runBootwatch({});
            QCOMPARE(second.exitCode, 0);
            QVERIFY(second.err.contains("a daemon is already running"));
            request("getpxeswitch");
            QVERIFY(waitUntil([] { return !calls().isEmpty(); }, EVENT_CEILING));
            QVERIFY(!d.ends(1200));
            QCOMPARE(calls(), QStringList{"get_pxeswitch.sh"});
            d.stop();
        }
        QCOMPARE(Sandbox::run("umount", {"/var/lock"}).exitCode, 0);
        lockFolderMounted = false;
        QVERIFY(segments().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstBootwatch)
#include "tst_bootwatch.moc"
