// BinaryHandler on loop drives with the real xblit, gzip, split, cat and tar: compressed
// partition images round trip (whole, split, onto another partition number), a Linux file
// system round trips through tar pieces, raw copies report through the status file, and crafted
// image names stay names inside the generated pipelines.
#include "binaryhandler.h"
#include "capture.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

static QString q(const QString &text)
{
    QString quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

static quint64 sectors(const QString &partition)
{
    return Sandbox::sh("blockdev --getsz " + partition).out.trimmed().toULongLong();
}

// Empty when both hold the same bytes; otherwise what differs, for the failure message.
static QByteArray difference(const QString &a, const QString &b)
{
    const Sandbox::Result r = Sandbox::sh("cmp " + q(a) + " " + q(b) + " 2>&1");
    if (r.exitCode == 0)
        return QByteArray();
    return r.out + Sandbox::sh("blockdev --getsize64 " + q(a) + " " + q(b) + " 2>&1; ls -l " + q(a) + " " + q(b)
                               + "; lsblk -b -o NAME,SIZE,MAJ:MIN").out;
}
#define QVERIFY_SAME(a, b) do { const QByteArray d = difference(a, b); QVERIFY2(d.isEmpty(), d.constData()); } while (0)

// Random bytes at the start and in the middle of a partition; the rest stays zero.
static bool fill(const QString &partition)
{
    // nocreat: a missing partition node must fail here, never become a file under /dev.
    return Sandbox::sh(QStringLiteral("test -b %1 && head -c 3000000 /dev/urandom | dd of=%1 bs=1M iflag=fullblock "
                                      "conv=nocreat status=none && head -c 100000 /dev/urandom | "
                                      "dd of=%1 bs=100000 seek=60 conv=nocreat status=none")
                           .arg(partition)).exitCode == 0;
}

class TstBinaryHandler : public QObject
{
    Q_OBJECT
    BinaryHandler *handler = nullptr;
    VirtualDrive *source = nullptr;
    VirtualDrive *target = nullptr;
    const QStringList layout{"-n", "1:2048:+4M", "-n", "2:0:+16M", "-n", "3:0:+16M"};

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QVERIFY2(QFile::exists(Sandbox::binDir() + "/xblit"), "build the xblit target first");
        handler = new BinaryHandler;
        source = new VirtualDrive("source", "48M");
        target = new VirtualDrive("target", "48M");
        QVERIFY(source->isValid() && target->isValid());
        QVERIFY(source->makeGpt(layout));
        QVERIFY(target->makeGpt(layout));
        QVERIFY(fill(source->partition(2)));
    }

    void cleanupTestCase()
    {
        delete source;
        delete target;
    }

    void init()
    {
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task", "/var/log/rcv_status"})
            QFile::remove(f);
        // dd stops at the partition's end, which it reports as a failure.
        QVERIFY(Sandbox::sh("test -b " + target->partition(2) + " && test -b " + target->partition(3)).exitCode == 0);
        Sandbox::sh("dd if=/dev/zero of=" + target->partition(2) + " bs=1M conv=nocreat status=none; dd if=/dev/zero of="
                    + target->partition(3) + " bs=1M conv=nocreat status=none");
    }

    void compressedRoundTrip_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("plain") << "/tmp/images/x.bim";
        QTest::newRow("crafted") << "/tmp/images/it's a \"q\" $(touch pwned) `touch pwned2` ;x.bim";
    }
    void compressedRoundTrip()
    {
        QFETCH(QString, base);
        QDir().mkpath("/tmp/images");
        const quint64 blocks = sectors(source->partition(2));
        QCOMPARE(blocks, quint64(32768));

        QByteArray out = captureFd(1, [&] { QCOMPARE(handler->BackupCompressedImage(base, source->device(), 2, blocks), 0); });
        QVERIFY2(out.contains("Backup Compressed Binary Image Finished, Success"),
                 Sandbox::sh("cat /var/log/vtl_debug.log; ls -t /tmp/.pxe-exec | head -1 | xargs -I{} cat /tmp/.pxe-exec/{}").out.constData());
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"),
                 QString("Backup %1, partition 2\n").arg(source->device()).toUtf8());
        QVERIFY(QFile::exists(base + ".p2"));
        QVERIFY(!QFile::exists(base + ".p2.000"));
        // The image is one gzip stream of the partition's bytes.
        QCOMPARE(Sandbox::sh("gunzip -c " + q(base + ".p2") + " | cmp -s - " + source->partition(2)).exitCode, 0);
        // xblit's percentages came back over the status socket while the pipeline ran.
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray(" 100 percent completed\n"));

        out = captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage(base, target->device(), blocks, false, 2, 0), 0);
        });
        QVERIFY(out.contains("Restore Compressed Binary Image Finished, Success"));
        QVERIFY_SAME(source->partition(2), target->partition(2));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"),
                 QString("Restore %1, partition 2\n").arg(target->partition(2)).toUtf8());
        for (const QString &dir : {QDir::currentPath(), QString("/tmp"), QString("/tmp/images"), QCoreApplication::applicationDirPath()}) {
            QVERIFY(!QFile::exists(dir + "/pwned"));
            QVERIFY(!QFile::exists(dir + "/pwned2"));
        }
        QVERIFY(!QFile::exists("/tmp/images/it"));
    }

    void imageNumberMapping()
    {
        // Set partition 2 goes onto drive partition 3.
        const QString base = "/tmp/images/map.bim";
        QDir().mkpath("/tmp/images");
        const quint64 blocks = sectors(source->partition(2));
        captureFd(1, [&] { QCOMPARE(handler->BackupCompressedImage(base, source->device(), 2, blocks), 0); });
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage(base, target->device(), blocks, false, 3, 2), 0);
        });
        QVERIFY(out.contains(QString("Restore Compressed Binary Image '%1'.p2 %2").arg(base, target->partition(3)).toUtf8()));
        QVERIFY_SAME(source->partition(2), target->partition(3));
        QVERIFY(!difference(source->partition(2), target->partition(2)).isEmpty());
    }

    void splitRestore()
    {
        // Pieces cut by the real split from one gzip stream, more than 100 of them, restored in
        // name order.
        const QString base = "/tmp/pieces/it's x.bim";
        QDir().mkpath("/tmp/pieces");
        const quint64 blocks = sectors(source->partition(2));
        captureFd(1, [&] { QCOMPARE(handler->BackupCompressedImage(base, source->device(), 2, blocks), 0); });
        QCOMPARE(Sandbox::sh("cd /tmp/pieces && split -a 3 -d -b 20K " + q("it's x.bim.p2") + " " + q("it's x.bim.p2.")
                             + " && rm " + q("it's x.bim.p2")).exitCode, 0);
        QVERIFY(QFile::exists(base + ".p2.120"));
        const QByteArray out = captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage(base, target->device(), blocks, true, 2, 0), 0);
        });
        QVERIFY_SAME(source->partition(2), target->partition(2));

        // One piece missing from the middle breaks the stream: a failure, never a success.
        QFile::remove(base + ".p2.050");
        captureFd(1, [&] { QCOMPARE(handler->RestoreCompressedBinaryImage(base, target->device(), blocks, true, 2, 0), 1016); });
    }

    // Any image of a partition larger than the split size is cut into pieces of that many MiB,
    // so no member outgrows a FAT32 stick; a partition of exactly the split size stays one file.
    void splitBySplitSize()
    {
        // Random bytes do not compress: the image of partition 3 is about 12 MiB.
        QCOMPARE(Sandbox::sh("head -c 12M /dev/urandom | dd of=" + source->partition(3) + " conv=nocreat status=none").exitCode, 0);
        const QString base = "/tmp/fat/x.bim";
        QDir().mkpath("/tmp/fat");
        handler->setSplitSizes(4);
        captureFd(1, [&] {
            QCOMPARE(handler->BackupCompressedImage(base, source->device(), 3, sectors(source->partition(3))), 0);
            QCOMPARE(handler->BackupCompressedImage(base, source->device(), 1, sectors(source->partition(1))), 0);
        });
        handler->setSplitSizes(1024);

        QVERIFY(!QFile::exists(base + ".p3"));
        const QStringList pieces = QDir("/tmp/fat").entryList({"x.bim.p3.*"}, QDir::Files, QDir::Name);
        QCOMPARE(pieces.mid(0, 3), QStringList({"x.bim.p3.000", "x.bim.p3.001", "x.bim.p3.002"}));
        QCOMPARE(pieces.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(QFileInfo("/tmp/fat/" + pieces.at(i)).size(), qint64(4 * 1048576));
        // Partition 1 is exactly the split size: its stream could come out a little larger, so
        // it is cut too (into one piece here, its zeros compress).
        QVERIFY(!QFile::exists(base + ".p1"));
        QCOMPARE(QDir("/tmp/fat").entryList({"x.bim.p1.*"}, QDir::Files), QStringList({"x.bim.p1.000"}));

        captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage(base, target->device(), sectors(target->partition(3)), true, 3, 0), 0);
        });
        QVERIFY_SAME(source->partition(3), target->partition(3));
    }

    void failures()
    {
        QDir().mkpath("/tmp/images");
        QByteArray out = captureFd(1, [&] { QCOMPARE(handler->BackupCompressedImage("/tmp/images/f.bim", source->device(), 9, 100), 1015); });
        QVERIFY(out.contains("Backup Compressed Binary Image Finished, Failed"));
        out = captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage("/tmp/images/none.bim", target->device(), 100, false, 2, 0), 1016);
        });
        QVERIFY(out.contains("Restore Compressed Binary Image Finished, Failed"));
        // A damaged stream.
        captureFd(1, [&] { QCOMPARE(handler->BackupCompressedImage("/tmp/images/cut.bim", source->device(), 2, 32768), 0); });
        QCOMPARE(Sandbox::sh("truncate -s 100000 /tmp/images/cut.bim.p2").exitCode, 0);
        captureFd(1, [&] { QCOMPARE(handler->RestoreCompressedBinaryImage("/tmp/images/cut.bim", target->device(), 32768, false, 2, 0), 1016); });
        // A partition the drive does not have: no plain file appears under /dev in its place.
        out = captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedBinaryImage("/tmp/images/x.bim", target->device(), 32768, false, 7, 2), 1016);
        });
        QVERIFY(out.contains("ERROR: " + target->partition(7).toUtf8() + " is not a block device"));
        QVERIFY(!QFile::exists(target->partition(7)));
    }

    void linuxRoundTrip()
    {
        VirtualDrive linux("linux", "64M");
        VirtualDrive fresh("fresh", "64M");
        QVERIFY(linux.isValid() && fresh.isValid());
        for (VirtualDrive *d : {&linux, &fresh}) {
            QVERIFY(d->makeGpt({"-n", "1:2048:+40M"}));
            QVERIFY(d->makeFileSystem(1, "ext4"));
        }
        QVERIFY(linux.mount(1, "ext4", "/tmp/src"));
        QCOMPARE(Sandbox::sh("cd /tmp/src && mkdir -p packages boot/deep && head -c 5000000 /dev/urandom > packages/base.squash && "
                             "echo 'DEFAULT linux' > syslinux.cfg && head -c 1234 /dev/urandom > boot/deep/x && "
                             "ln -s packages/base.squash link && chmod 600 boot/deep/x").exitCode, 0);
        const QByteArray hashes = Sandbox::sh("cd /tmp/src && find . -path ./lost+found -prune -o -print | sort | "
                                              "while read -r f; do stat -c '%n %A %s' \"$f\"; [ -f \"$f\" ] && [ ! -L \"$f\" ] "
                                              "&& md5sum \"$f\"; done").out;
        QVERIFY(VirtualDrive::unmount("/tmp/src"));
        Sandbox::writeDouble("install_syslinux.sh", "#!/bin/sh\necho \"$@\" > /tmp/syslinux.args\necho installed\n");

        const QString base = "/tmp/linux set/l.bim";
        QDir().mkpath("/tmp/linux set");
        QByteArray out = captureFd(1, [&] { QCOMPARE(handler->BackupCompressedLinuxImage(base, linux.device()), 0); });
        QVERIFY(out.contains("Backup Compressed Linux Image Finished, Success"));
        QVERIFY(QFile::exists(base + ".000"));
        QVERIFY(!QFile::exists(base + ".001"));
        QVERIFY(Sandbox::readFile(base).contains("Backup Compressed Linux Image '" + base.toUtf8() + "' " + linux.partition(1).toUtf8()));
        QCOMPARE(QDir::currentPath(), QCoreApplication::applicationDirPath());
        QVERIFY(Sandbox::sh("grep -q ' /mnt/hd ' /proc/self/mounts").exitCode != 0);
        QVERIFY(handler->checkpointCount > 0);

        out = captureFd(1, [&] { QCOMPARE(handler->RestoreCompressedLinuxImage(base, fresh.device()), 0); });
        QVERIFY(out.contains("Restore Compressed Linux Image Finished, Success"));
        QCOMPARE(Sandbox::readFile("/tmp/syslinux.args").trimmed(),
                 QString("%1 /mnt/hd %2").arg(fresh.partition(1), fresh.device()).toUtf8());
        QVERIFY(Sandbox::sh("sgdisk -A 1:get:2 " + fresh.device()).out.contains("1:2:1"));
        QVERIFY(fresh.mount(1, "ext4", "/tmp/dst"));
        const QByteArray restored = Sandbox::sh("cd /tmp/dst && find . -path ./lost+found -prune -o -print | sort | "
                                                "while read -r f; do stat -c '%n %A %s' \"$f\"; [ -f \"$f\" ] && [ ! -L \"$f\" ] "
                                                "&& md5sum \"$f\"; done").out;
        QVERIFY(VirtualDrive::unmount("/tmp/dst"));
        QCOMPARE(restored, hashes);
        QVERIFY(hashes.contains("packages/base.squash"));
    }

    void linuxFailures()
    {
        // A partition that does not mount: the empty mount point is never archived or filled.
        QByteArray out = captureFd(1, [&] { QCOMPARE(handler->BackupCompressedLinuxImage("/tmp/images/raw.bim", target->device()), 1015); });
        QVERIFY(out.contains("ERROR: Could not mount " + target->partition(1).toUtf8()));
        QVERIFY(!QFile::exists("/tmp/images/raw.bim.000"));
        captureFd(1, [&] {
            QCOMPARE(handler->RestoreCompressedLinuxImage("/tmp/linux set/l.bim", target->device()), 1016);
        });
        QCOMPARE(QDir::currentPath(), QCoreApplication::applicationDirPath());

        VirtualDrive spare("spare", "64M");
        QVERIFY(spare.makeGpt({"-n", "1:2048:+40M"}) && spare.makeFileSystem(1, "ext4"));
        out = captureFd(1, [&] { QCOMPARE(handler->RestoreCompressedLinuxImage("/tmp/images/none.bim", spare.device()), 1004); });
        QVERIFY(out.contains("ERROR: Could not find source files /tmp/images/none.bim"));
        QVERIFY(Sandbox::sh("grep -q ' /mnt/hd ' /proc/self/mounts").exitCode != 0);
    }

    void rawCopiesReport()
    {
        const QString base = "/tmp/raw/r.bin";
        QDir().mkpath("/tmp/raw");
        Sandbox::writeFile(base + ".p2.000", "stale piece");
        QByteArray out = captureFd(1, [&] { QCOMPARE(handler->BackupBinaryImage(base, source->device(), 16 * 1048576, 2), 0); });
        QVERIFY_SAME(base + ".p2", source->partition(2));
        QVERIFY(!QFile::exists(base + ".p2.000"));
        // The single copy's lines carry decimals: the status file and debug log only.
        QVERIFY(!out.contains("percent complete"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("100.00 percent complete\n"));
        QVERIFY(Sandbox::readFile("/var/log/vtl_debug.log").contains("BinaryHandler::BackupBinaryImage completed 0"));

        // The list copy's whole percentages reach the console every tenth percent.
        QCOMPARE(Sandbox::sh("split -a 3 -d -b 5M /tmp/raw/r.bin.p2 /tmp/raw/r.bin.").exitCode, 0);
        const QStringList list{"/tmp/raw/r.bin.000", "/tmp/raw/r.bin.001", "/tmp/raw/r.bin.002", "/tmp/raw/r.bin.003"};
        out = captureFd(1, [&] { QCOMPARE(handler->RestoreBinaryImage(list, target->partition(3), 16 * 1048576, "r.bin"), 0); });
        QVERIFY_SAME(source->partition(2), target->partition(3));
        QStringList expected{"Restore Binary Image r.bin " + target->partition(3), "0 percent complete"};
        for (int p = 10; p <= 100; p += 10)
            expected << QString("%1 percent complete").arg(p);
        expected << "Restore Binary Image Finished";
        QStringList shown = QString::fromLocal8Bit(out).split('\n', Qt::SkipEmptyParts);
        shown.first().remove(QRegularExpression("^\\[[0-9/: ]+\\] "));
        QCOMPARE(shown, expected);

        // A failure is shown, not only filed.
        out = captureFd(1, [&] { QVERIFY(handler->RestoreBinaryImage("/tmp/raw/none", target->partition(3), 512, false) != 0); });
        QVERIFY(out.contains("ERROR Could not open source /tmp/raw/none"));
    }
};

QTEST_GUILESS_MAIN(TstBinaryHandler)
#include "tst_binaryhandler.moc"
