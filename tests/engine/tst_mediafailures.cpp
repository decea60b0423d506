// Media that fail under a backup or restore: the destination runs full, the destination goes away
// mid-run, a set's last piece is cut short, the source drive fails to read half-way. The real
// vaultine on loop drives in the sandbox; the full stick is a small tmpfs, the pulled stick a lazy
// unmount, the failing drive a loop device over a file served by readfault (a small FUSE server
// that fails reads in a byte range). Every case must end in an error code and FAILED, never in a
// checksum list or "succeeded", and must leave the drive it did not mean to write as it was.
#include "enginerun.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString SET_DIR = QStringLiteral("/mnt/usb");

using enginerun::EngineRun;
using enginerun::engine;
using enginerun::md5Of;
using enginerun::sh;

// What every failed run leaves for the console and the manager.
#define QVERIFY_FAILED_RUN(run)                                                              \
    do {                                                                                     \
        QVERIFY2(!(run).out.contains("succeeded"), (run).why().constData());                 \
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));           \
    } while (0)

// A destination file system of the given size on /mnt/usb, like a stick the console mounted.
bool mountStick(const QString &size)
{
    return Sandbox::sh("mkdir -p " + SET_DIR + " && mount -t tmpfs -o size=" + size + " stick " + SET_DIR).exitCode == 0;
}

// Random bytes into a partition from its start.
bool fillRandom(const QString &partition, const QString &size)
{
    return Sandbox::sh("head -c " + size + " /dev/urandom | dd of=" + partition + " conv=notrunc,nocreat status=none").exitCode == 0;
}

}

class TstMediaFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void init()
    {
        sh("while mountpoint -q " + SET_DIR + "; do umount -l " + SET_DIR + "; done; rm -rf " + SET_DIR);
        QDir().mkpath(SET_DIR);
        for (const char *f : {"/tmp/.nosums", "/tmp/abort-vtl", "/var/log/vtl_pid", "/tmp/restore-info.log", "/var/log/rcv_status"})
            QFile::remove(f);
    }

    // The stick fills up while the second partition is written: which member and why, no list.
    void destinationRunsOutOfSpace()
    {
        VirtualDrive source("full-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300", "-n", "2:0:+30M", "-t", "2:8300"}));
        QVERIFY(fillRandom(source.partition(2), "20M"));
        const QString before = md5Of(source.device());
        QVERIFY(mountStick("12M"));

        const EngineRun b = engine({"-b", "bim", SET_DIR + "/x.bim"}, source.device());
        QCOMPARE_STATUS(b, 1015);
        QVERIFY_FAILED_RUN(b);
        QVERIFY2(b.out.contains("Backing up partition 2 (" + source.partition(2) + ") failed"), b.why().constData());
        QVERIFY2(b.out.contains("Could not write x.bim.p2: no space left on /mnt/usb"), b.why().constData());
        QVERIFY(QFile::exists(SET_DIR + "/x.bim.p1"));
        QVERIFY(!QFile::exists(SET_DIR + "/x.bim.sums"));
        QCOMPARE(md5Of(source.device()), before);
    }

    // The stick's file system is unmounted (lazily: the tools keep writing into what they opened)
    // while the second of three partitions is written.
    void destinationVanishesMidRun()
    {
        VirtualDrive source("gone-src", "96M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300", "-n", "2:0:+50M", "-t", "2:8300",
                                "-n", "3:0:+10M", "-t", "3:8300"}));
        QVERIFY(fillRandom(source.partition(2), "50M"));
        QVERIFY(fillRandom(source.partition(3), "1M"));
        const QString before = md5Of(source.device());
        QVERIFY(mountStick("200M"));

        QProcess puller;
        puller.start("bash", {"-c", "for i in $(seq 3000); do [ -e " + SET_DIR + "/v.bim.p2 ] && exec umount -l " + SET_DIR
                                        + "; sleep 0.02; done; exit 1"});
        QVERIFY(puller.waitForStarted());
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/v.bim"}, source.device());
        QVERIFY(puller.waitForFinished(60000));
        QCOMPARE(puller.exitCode(), 0);

        QCOMPARE_STATUS(b, 1015);
        QVERIFY_FAILED_RUN(b);
        // Caught after the partition being written when the stick went (the third, had the second
        // ended before the unmount).
        const QRegularExpression member("Could not write v\\.bim\\.p([23]): /mnt/usb is gone");
        const QRegularExpressionMatch m = member.match(b.out);
        QVERIFY2(m.hasMatch(), b.why().constData());
        QVERIFY(b.out.contains("Backing up partition " + m.captured(1) + " (" + source.partition(m.captured(1).toInt()) + ") failed"));
        // Nothing was listed on the stick nor in the folder left behind.
        QCOMPARE(sh("mountpoint -q " + SET_DIR + " || echo gone").trimmed(), QString("gone"));
        QVERIFY(!QFile::exists(SET_DIR + "/v.bim.sums"));
        QVERIFY(!QFile::exists(SET_DIR + "/v.bim.p3") || m.captured(1) == "3");
        QCOMPARE(md5Of(source.device()), before);
    }

    // A set cut short after its list was written: the list stops it before the drive is touched;
    // without the list the partition that cannot be completed fails the restore.
    void truncatedLastPiece_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("partition");
        QTest::addColumn<int>("code");
        QTest::newRow("last piece of the NTFS image") << "last" << 2 << 1014;
        // The raw partition's 6 MB of random data exceed the 1 MiB split size: it is in pieces too.
        QTest::newRow("last piece of a raw partition's image") << "last" << 1 << 1016;
    }

    void truncatedLastPiece()
    {
        QFETCH(QString, member);
        QFETCH(int, partition);
        QFETCH(int, code);
        VirtualDrive source("cut-src", "96M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300", "-n", "2:0:+60M", "-t", "2:0700"}));
        QVERIFY(fillRandom(source.partition(1), "6M"));
        QVERIFY(source.makeFileSystem(2, "ntfs"));
        QVERIFY(source.mount(2, "ntfs", "/mnt/fill"));
        sh("head -c 6M /dev/urandom > /mnt/fill/media.bin");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        // 1 MB pieces: the NTFS image is several.
        QCOMPARE_STATUS(engine({"-b", "bim", SET_DIR + "/t.bim"}, source.device(), {"SPLIT_SIZE=1"}), 0);
        QVERIFY(QFile::exists(SET_DIR + "/t.bim.sums"));
        const QStringList pieces = QDir(SET_DIR).entryList({QString("t.bim.p%1.[0-9][0-9][0-9]").arg(partition)}, QDir::Files, QDir::Name);
        QVERIFY2(pieces.size() >= 4, qPrintable(pieces.join(' ')));
        if (member == "last")
            member = pieces.last();
        const qint64 size = QFileInfo(SET_DIR + "/" + member).size();
        QVERIFY(size > 1000);
        QVERIFY(QFile::resize(SET_DIR + "/" + member, size / 2));

        VirtualDrive target("cut-dst", "96M");
        const QString pristine = md5Of(target.device());
        const EngineRun checked = engine({"-r", "bim", SET_DIR + "/t.bim"}, target.device());
        QCOMPARE_STATUS(checked, 1018);
        QVERIFY_FAILED_RUN(checked);
        QVERIFY2(checked.out.contains("The checksum for " + member + " does not match"), checked.why().constData());
        QCOMPARE(md5Of(target.device()), pristine);

        QVERIFY(Sandbox::writeFile("/tmp/.nosums", QByteArray()));
        QFile::remove("/tmp/restore-info.log");
        const EngineRun unchecked = engine({"-r", "bim", SET_DIR + "/t.bim"}, target.device());
        QCOMPARE_STATUS(unchecked, code);
        QVERIFY_FAILED_RUN(unchecked);
        QVERIFY2(unchecked.out.contains(QString("Restoring partition %1 (%2) failed").arg(partition).arg(target.partition(partition))),
                 unchecked.why().constData());
        QCOMPARE(Sandbox::readFile("/tmp/restore-info.log"), QByteArray("FAILED\n"));
    }

    // The drive's second partition cannot be read past its 12th MiB: the backup names it and
    // writes no list. The drive is a loop device over readfault's file.
    void sourceFailsToRead()
    {
        const QString server = QCoreApplication::applicationDirPath() + "/readfault";
        QVERIFY2(QFileInfo(server).isExecutable(), "build the readfault target first");
        const QString image = Sandbox::root() + "/drives/failing.img";
        const qint64 mib = 1024 * 1024;
        // Partition 2 begins at sector 22528 = 11 MiB.
        QCOMPARE(Sandbox::sh("truncate -s 64M " + image + " && sgdisk -n 1:2048:+10M -t 1:8300 -n 2:0:+30M -t 2:8300 " + image
                             + " >/dev/null && head -c 30M /dev/urandom | dd of=" + image + " bs=1M seek=11 conv=notrunc status=none")
                     .exitCode, 0);
        QCOMPARE(sh("sgdisk -i 2 " + image + " | sed -n 's/^First sector: \\([0-9]*\\).*/\\1/p'").trimmed(), QString("22528"));
        QDir().mkpath("/mnt/failing");
        QCOMPARE(Sandbox::run(server, {image, "/mnt/failing", QString::number(23 * mib), QString::number(24 * mib)}).exitCode, 0);
        const QString device = sh("sbx_attach /mnt/failing/disk").trimmed();
        // Released here before the FUSE drive goes; the sandbox's clean-up does it if the test dies.
        struct Release {
            QString device;
            ~Release()
            {
                Sandbox::sh((device.isEmpty() ? QString() : "partx -d " + device + "; losetup -d " + device + "; ")
                            + "umount -l /mnt/failing");
            }
        } release{device};
        QVERIFY2(device.startsWith("/dev/loop"), qPrintable(device));
        QCOMPARE(Sandbox::sh("sbx_probe " + device).exitCode, 0);
        const QString p2 = device + "p2";
        QVERIFY(QFileInfo::exists(p2));
        // The oracle: dd itself cannot read the partition through.
        QVERIFY(sh("dd if=" + p2 + " of=/dev/null bs=1M 2>&1").contains("Input/output error"));

        const EngineRun b = engine({"-b", "bim", SET_DIR + "/r.bim"}, device);
        QVERIFY2(!b.timedOut, b.why().constData());
        QCOMPARE_STATUS(b, 1015);
        QVERIFY_FAILED_RUN(b);
        QVERIFY2(b.out.contains("Backing up partition 2 (" + p2 + ") failed"), b.why().constData());
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains("Input/output error"));
        QVERIFY(QFile::exists(SET_DIR + "/r.bim.p1"));
        QVERIFY(!QFile::exists(SET_DIR + "/r.bim.sums"));
    }
};

QTEST_GUILESS_MAIN(TstMediaFailures)
#include "tst_mediafailures.moc"
