// The operator's stop request (the abort file) against the real vaultine on loop drives: steps that
// change a volume or a table in place run to their end, a clone never leaves the unit's drive
// shrunk, a restore stopped while it checks the set leaves the drive as it was, a stopped run
// never ends as a success, and a hanging tool is stopped after STALL_TIMEOUT seconds.
#include "enginerun.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

using enginerun::EngineRun;
using enginerun::engine;
using enginerun::md5Of;
using enginerun::sh;

namespace {

const QString SET_DIR = QStringLiteral("/mnt/usb");

// ntfsresize as the engine runs it, except that the operator's stop request arrives while the
// kind of resize named in /tmp/stop-during (shrink or grow) runs, and that the resize is still
// busy a moment later. Every real resize is recorded with its status when it has ended, so a
// resize killed half-way leaves no line. Checks (-i, -c) and test runs (-n) pass straight on.
const char *RESIZE_DOUBLE = R"SH(#!/bin/sh
kind=grow
for a in "$@"; do
    case $a in
    -n|-i|-if|-c|-f) kind=check ;;
    -s) [ $kind = grow ] && kind=shrink ;;
    esac
done
[ $kind = check ] && exec /usr/sbin/ntfsresize "$@"
if [ "$kind" = "$(cat /tmp/stop-during 2>/dev/null)" ]; then
    touch /tmp/abort-vtl
    sleep 2
fi
[ "$kind" = "$(cat /tmp/stall-during 2>/dev/null)" ] && sleep 5
/usr/sbin/ntfsresize "$@"
rc=$?
echo "$kind finished $rc" >> /tmp/resizes
exit $rc
)SH";

qint64 volumeSize(const QString &partition)
{
    return sh("/usr/sbin/ntfsresize -f -i " + partition + " | sed -n 's/^Current volume size: \\([0-9]*\\).*/\\1/p'").toLongLong();
}

QString filesOn(VirtualDrive &d, int n)
{
    if (!d.mount(n, "ntfs", "/mnt/check"))
        return "<mount failed>";
    const QString list = sh("cd /mnt/check && find . -type f ! -path './System Volume Information/*' -exec md5sum {} + | sort -k2");
    VirtualDrive::unmount("/mnt/check");
    return list;
}

}

class TstStopRequests : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void init()
    {
        enginerun::freshStart(SET_DIR, {"/tmp/abort-vtl", "/tmp/stop-during", "/tmp/stall-during", "/tmp/resizes", "/var/log/vtl_pid"});
    }

    // A clone shrinks the unit's data volume (over 10 GB) and grows it back. A stop that comes
    // while either resize runs waits for it; the run then ends as a stopped one (255, FAILED, no
    // checksum list) with the drive as it was: its table, its volume size, its files.
    void cloneStoppedWhileResizing()
    {
        VirtualDrive unit("stop-clone", "16G");
        QVERIFY(unit.makeGpt({"-n", "1:2048:+16M", "-t", "1:ef00", "-n", "2:0:-64M", "-t", "2:0700", "-n", "3:0:0", "-t", "3:2700"}));
        QVERIFY(unit.makeFileSystem(2, "ntfs", "Windows"));
        QVERIFY(unit.mount(2, "ntfs", "/mnt/fill"));
        sh("mkdir -p '/mnt/fill/Users/Tech Name' && head -c 3M /dev/urandom > '/mnt/fill/Users/Tech Name/report.bin' && "
           "seq 1 200000 > /mnt/fill/numbers.txt");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        const QString table = sh("sgdisk -p " + unit.device() + " | sed -n '/^Number/,$p'");
        const qint64 volume = volumeSize(unit.partition(2));
        const QString files = filesOn(unit, 2);
        QVERIFY(files.contains("./numbers.txt"));
        Sandbox::writeDouble("ntfsresize", RESIZE_DOUBLE);

        for (const QString kind : {"shrink", "grow"}) {
            QFile::remove("/tmp/resizes");
            Sandbox::writeFile("/tmp/stop-during", kind.toLatin1());
            const EngineRun c = engine({"-c", "bim", SET_DIR + "/s.bim"}, unit.device());
            QFile::remove("/tmp/abort-vtl");
            QCOMPARE_STATUS(c, -1);
            QVERIFY2(c.out.contains("resizes the NTFS volume in place and cannot be stopped safely"), qPrintable(c.out.right(3000)));
            QVERIFY(c.out.contains("Cloning " + unit.kernelName() + " FAILED"));
            // Both resizes ran to their end: the shrink, and the growth back.
            QCOMPARE(Sandbox::readFile("/tmp/resizes"), QByteArray("shrink finished 0\ngrow finished 0\n"));
            QCOMPARE(sh("sgdisk -p " + unit.device() + " | sed -n '/^Number/,$p'"), table);
            QCOMPARE(volumeSize(unit.partition(2)), volume);
            QCOMPARE(filesOn(unit, 2), files);
            QCOMPARE(Sandbox::sh("ntfsfix -n " + unit.partition(2)).exitCode, 0);
            QVERIFY(!QFile::exists(SET_DIR + "/s.bim.sums"));
            QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
        }

        // The stall watchdog keeps the same rule: a growth that is silent for longer than
        // STALL_TIMEOUT is reported and left to finish, and the clone succeeds.
        QFile::remove("/tmp/stop-during");
        QFile::remove("/tmp/resizes");
        Sandbox::writeFile("/tmp/stall-during", "grow");
        const EngineRun slow = engine({"-c", "bim", SET_DIR + "/s.bim"}, unit.device(), {"STALL_TIMEOUT=2"});
        QCOMPARE_STATUS(slow, 0);
        QVERIFY2(slow.out.contains("made no progress for 2 seconds; it resizes the NTFS volume in place and is left to finish"),
                 qPrintable(slow.out.right(3000)));
        QCOMPARE(Sandbox::readFile("/tmp/resizes"), QByteArray("shrink finished 0\ngrow finished 0\n"));
        QCOMPARE(volumeSize(unit.partition(2)), volume);
        QVERIFY(QFile::exists(SET_DIR + "/s.bim.sums"));
        QFile::remove(Sandbox::doublesDir() + "/ntfsresize");
    }

    // Stopped while the set's checksums are checked, before anything is written: the drive keeps
    // every byte, and the run ends as a stopped one (1000). A member fed through a pipe holds the
    // check at a known point: its first MiB, then the stop request, then the rest.
    void restoreStoppedWhileCheckingLeavesTheDrive()
    {
        VirtualDrive source("stop-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+12M", "-t", "1:8300", "-n", "2:0:+12M", "-t", "2:8300"}));
        sh("head -c 12M /dev/urandom > " + source.partition(1));
        QCOMPARE_STATUS(engine({"-b", "bim", SET_DIR + "/v.bim"}, source.device()), 0);
        QVERIFY(QFileInfo(SET_DIR + "/v.bim.p1").size() > 8 * 1024 * 1024);

        VirtualDrive target("stop-dst", "64M");
        QVERIFY(target.makeGpt({"-n", "1:2048:+30M", "-t", "1:0700"}));
        sh("head -c 1M /dev/urandom | dd of=" + target.partition(1) + " conv=notrunc status=none");
        const QString before = md5Of(target.device());

        const QString member = SET_DIR + "/v.bim.p1";
        sh("mv " + member + " /tmp/p1.real && mkfifo " + member);
        sh("setsid sh -c '{ head -c 1M /tmp/p1.real; touch /tmp/abort-vtl; sleep 2; tail -c +1048577 /tmp/p1.real; } > "
           + member + "' >/dev/null 2>&1 < /dev/null &");
        const EngineRun r = engine({"-r", "bim", SET_DIR + "/v.bim"}, target.device());
        sh("pkill -f 'tail -c +1048577 /tmp/p1.real'; rm -f " + member);
        QCOMPARE_STATUS(r, 1000);
        QVERIFY(r.out.contains("Abort Requested"));
        QVERIFY(!r.out.contains("does not match"));
        QCOMPARE(md5Of(target.device()), before);
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
        QCOMPARE(Sandbox::readFile("/tmp/restore-info.log").trimmed().split('\n').last(), QByteArray("FAILED"));
    }

    // STALL_TIMEOUT set for the engine: a compressor that hangs (as on a dead share) ends the
    // backup within seconds as a failure that names it, with no checksum list.
    void stallTimeoutFromTheEnvironment()
    {
        VirtualDrive source("stall", "32M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300"}));
        for (const QString z : {"gzip", "pigz"})
            Sandbox::writeDouble(z, "#!/bin/sh\nexec sleep 171\n");
        QElapsedTimer t;
        t.start();
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/h.bim"}, source.device(), {"STALL_TIMEOUT=3"});
        const qint64 took = t.elapsed();
        for (const QString z : {"gzip", "pigz"})
            QFile::remove(Sandbox::doublesDir() + "/" + z);
        QCOMPARE_STATUS(b, 1015);
        QVERIFY2(took < 60000, qPrintable(QString::number(took)));
        QVERIFY2(b.out.contains(QRegularExpression("ERROR: (sleep|gzip|pigz)[a-z, ]* made no progress for 3 seconds and was stopped")),
                 qPrintable(b.out));
        QCOMPARE(Sandbox::sh("pgrep -f '^sleep 171$'").exitCode, 1);
        QVERIFY(!QFile::exists(SET_DIR + "/h.bim.sums"));
    }
};

QTEST_GUILESS_MAIN(TstStopRequests)
#include "tst_stoprequests.moc"
