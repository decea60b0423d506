// Faults found at the edges of the engine, each shown end to end with the real vaultine on loop
// drives: set names that hold arg() markers and shell syntax, a drive whose old DOS table cannot
// be converted, a GPT whose data partition is numbered last but does not lie last, a restore
// without a drive, and members that must never exceed the split size.
#include "enginerun.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using enginerun::EngineRun;
using enginerun::engine;
using enginerun::md5Of;
using enginerun::sh;

namespace {

const QString SET_DIR = QStringLiteral("/mnt/usb");
// Every kind of name that broke something once: arg() markers, blanks, both quotes, a command
// substitution and backticks.
const QString HOSTILE = QStringLiteral("site %1 %2 'a' \"b\" $(touch made1) `touch made2`");

QStringList setFiles()
{
    return QDir(SET_DIR).entryList(QDir::Files, QDir::Name);
}

QString gptListing(const QString &device)
{
    return sh("sgdisk -p " + device + " | sed -n '/^Number/,$p'");
}

}

class TstEdgeFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void init()
    {
        enginerun::freshStart(SET_DIR, {"/tmp/abort-vtl", "/tmp/.nosums", "/var/log/vtl_pid"});
    }

    // Backup, delete and restore of sets whose name is hostile, on a GPT drive with an NTFS
    // partition and on a DOS drive: every member carries the name as it is, the checksum list
    // covers them all, the restore gives the drive back, -t leaves nothing, and nothing in the
    // name runs.
    void hostileNamesRoundTrip_data()
    {
        QTest::addColumn<bool>("gpt");
        QTest::newRow("gpt") << true;
        QTest::newRow("dos") << false;
    }

    void hostileNamesRoundTrip()
    {
        QFETCH(bool, gpt);
        VirtualDrive source("name-src", "64M");
        if (gpt) {
            QVERIFY(source.makeGpt({"-n", "1:2048:+8M", "-t", "1:8300", "-n", "2:0:+24M", "-t", "2:0700"}));
        } else {
            QVERIFY(source.makeDos("label: dos\nstart=2048, size=16384, type=83\nstart=18432, size=49152, type=7\n"));
        }
        sh("head -c 8M /dev/urandom > " + source.partition(1));
        QVERIFY(source.makeFileSystem(2, "ntfs", "Data"));
        QVERIFY(source.mount(2, "ntfs", "/mnt/fill"));
        sh("seq 1 100000 > /mnt/fill/numbers.txt");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));

        const QString stem = HOSTILE + ".bim";
        const QString name = SET_DIR + "/" + stem;
        QDir().mkpath("/tmp/cwd");
        QCOMPARE_STATUS(engine({"-b", "bim", name}, source.device()), 0);
        const QStringList files = setFiles();
        for (const QString &file : files)
            QVERIFY2(file.startsWith(stem), qPrintable(files.join(" | ")));
        QVERIFY2(files.contains(stem + ".p1") && (files.contains(stem + ".p2") || files.contains(stem + ".p2.000")),
                 qPrintable(files.join(" | ")));
        const QString sums = QString::fromUtf8(Sandbox::readFile(name + ".sums"));
        for (const QString &file : files) {
            if (!file.endsWith(".sums") && !file.endsWith(".txt"))
                QVERIFY2(sums.contains(md5Of(SET_DIR + "/" + file) + " : " + file + "\n"), qPrintable(sums));
        }

        VirtualDrive target("name-dst", "64M");
        QCOMPARE_STATUS(engine({"-r", "bim", name}, target.device()), 0);
        QCOMPARE(md5Of(target.partition(1)), md5Of(source.partition(1)));
        QVERIFY(target.mount(2, "ntfs", "/mnt/check"));
        const QString numbers = md5Of("/mnt/check/numbers.txt");
        VirtualDrive::unmount("/mnt/check");
        QCOMPARE(numbers, sh("seq 1 100000 | md5sum | cut -d' ' -f1").trimmed());

        QCOMPARE_STATUS(engine({"-t", name}, target.device()), 0);
        QCOMPARE(setFiles(), QStringList());
        QCOMPARE(sh("find / -xdev \\( -name made1 -o -name made2 \\) 2>/dev/null"), QString());
    }

    // A drive copied from a bigger one keeps a DOS entry past its end, which sgdisk cannot turn
    // into a GPT on its own. The set's table replaces it all the same.
    void gptSetOntoUnconvertibleDosDrive()
    {
        VirtualDrive source("dosconv-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+20M", "-t", "1:8300", "-n", "2:0:+20M", "-t", "2:8300"}));
        sh("head -c 20M /dev/urandom > " + source.partition(2));
        QCOMPARE_STATUS(engine({"-b", "bim", SET_DIR + "/c.bim"}, source.device()), 0);

        VirtualDrive target("dosconv-dst", "64M");
        // One NTFS entry from sector 2048 over 400000 sectors, on a drive of 131072.
        sh("{ printf '\\0\\0\\0\\0\\007\\0\\0\\0'; sbx_le32 2048; sbx_le32 400000; } | dd of=" + target.device()
           + " bs=1 seek=446 conv=notrunc status=none; printf '\\125\\252' | dd of=" + target.device()
           + " bs=1 seek=510 conv=notrunc status=none");
        QVERIFY(sh("sfdisk -d " + target.device()).contains("start=        2048, size=      400000, type=7"));

        const EngineRun r = engine({"-r", "bim", SET_DIR + "/c.bim"}, target.device());
        QCOMPARE_STATUS(r, 0);
        QCOMPARE(gptListing(target.device()), gptListing(source.device()));
        QCOMPARE(md5Of(target.partition(2)), md5Of(source.partition(2)));
    }

    // The data partition has the highest entry number but lies before the recovery partition:
    // a deploy moves it behind, grows it to the drive's end and keeps its files.
    void deployJudgesDataLastByPosition()
    {
        VirtualDrive source("pos-src", "160M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+16M", "-t", "1:ef00", "-n", "2:-24M:0", "-t", "2:2700",
                                "-n", "3:0:+80M", "-t", "3:0700"}));
        QVERIFY(source.makeFileSystem(3, "ntfs", "Windows"));
        QVERIFY(source.mount(3, "ntfs", "/mnt/fill"));
        sh("seq 1 100000 > /mnt/fill/numbers.txt");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        sh("head -c 24M /dev/urandom > " + source.partition(2));
        QCOMPARE_STATUS(engine({"-b", "bim", SET_DIR + "/p.bim"}, source.device()), 0);

        VirtualDrive target("pos-dst", "300M");
        const EngineRun d = engine({"-d", "bim", SET_DIR + "/p.bim"}, target.device());
        QCOMPARE_STATUS(d, 0);
        const QJsonArray parts = QJsonDocument::fromJson(sh("sfdisk --json " + target.device()).toLatin1())
                                     .object().value("partitiontable").toObject().value("partitions").toArray();
        QCOMPARE(parts.size(), 3);
        const QJsonObject last = parts.at(2).toObject();
        QCOMPARE(last.value("type").toString(), QString("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"));
        QCOMPARE(last.value("start").toInt() + last.value("size").toInt(), 300 * 2048 - 34 - 1);
        QCOMPARE(md5Of(target.partition(2)), md5Of(source.partition(2)));   // recovery, moved up
        QVERIFY(target.mount(3, "ntfs", "/mnt/check"));
        const QString numbers = md5Of("/mnt/check/numbers.txt");
        VirtualDrive::unmount("/mnt/check");
        QCOMPARE(numbers, sh("seq 1 100000 | md5sum | cut -d' ' -f1").trimmed());
    }

    // No drive found: the manager dialog must not keep showing the last run's success.
    void restoreWithoutDriveReportsFailure()
    {
        QVERIFY(Sandbox::writeFile("/var/log/rcv_status", "Completed successfully\n"));
        const EngineRun r = engine({"-r", "bim", SET_DIR + "/any.bim"}, "/dev/");
        QCOMPARE_STATUS(r, 1005);
        QVERIFY(r.out.contains("Unable to detect drive"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
    }

    // A partition of incompressible data exactly the split size (1 MiB here) compresses to a
    // little more: it is split like a larger one, and no member exceeds the split size.
    void noMemberExceedsTheSplitSize()
    {
        VirtualDrive source("split-src", "16M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+1M", "-t", "1:8300", "-n", "2:0:+3M", "-t", "2:8300"}));
        sh("head -c 1M /dev/urandom > " + source.partition(1) + "; head -c 3M /dev/urandom > " + source.partition(2));
        QCOMPARE_STATUS(engine({"-b", "bim", SET_DIR + "/s.bim"}, source.device(), {"SPLIT_SIZE=1"}), 0);
        for (const QString &file : setFiles())
            QVERIFY2(QFileInfo(SET_DIR + "/" + file).size() <= 1048576, qPrintable(file));
        QVERIFY(QFile::exists(SET_DIR + "/s.bim.p1.001"));

        VirtualDrive target("split-dst", "16M");
        QCOMPARE_STATUS(engine({"-r", "bim", SET_DIR + "/s.bim"}, target.device()), 0);
        QCOMPARE(md5Of(target.partition(1)), md5Of(source.partition(1)));
        QCOMPARE(md5Of(target.partition(2)), md5Of(source.partition(2)));
    }
};

QTEST_GUILESS_MAIN(TstEdgeFaults)
#include "tst_edgefaults.moc"
