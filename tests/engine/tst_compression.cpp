// The compressed sets are one gzip stream per partition whichever tool wrote them: vaultine
// compresses with pigz where it is on PATH and with gzip where it is not, and a set written one way
// restores the other way. The real vaultine on loop drives; "a machine without pigz" is a PATH
// built from /usr/bin and /usr/sbin without pigz. Small recorders in front of the real tools note
// which one ran and hand everything over to it.
#include "enginerun.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString SET_DIR = QStringLiteral("/mnt/usb");
const QString CALLS = QStringLiteral("/tmp/compressor-calls");

using enginerun::md5Of;
using enginerun::sh;

// md5sum lines of every file on the NTFS partition, in name order.
QString ntfsFiles(VirtualDrive &d, int n)
{
    if (!d.mount(n, "ntfs", "/mnt/check"))
        return "<cannot mount " + d.partition(n) + ">";
    const QString list = sh("cd /mnt/check && find . -type f ! -path './System Volume Information/*' -print0 | sort -z | xargs -0 md5sum");
    VirtualDrive::unmount("/mnt/check");
    return list;
}

// A folder of recorders named after the tools: each notes its name and arguments, then runs the
// real tool of that name.
QString recorders(const QString &dir, const QStringList &tools)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    for (const QString &tool : tools) {
        Sandbox::writeFile(dir + "/" + tool, ("#!/bin/sh\necho \"" + tool + " $*\" >> " + CALLS + "\nexec /usr/bin/" + tool
                                              + " \"$@\"\n").toUtf8());
        QFile::setPermissions(dir + "/" + tool, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    return dir;
}

}

class TstCompression : public QObject
{
    Q_OBJECT

    QString withPigz;   // PATH of a machine with pigz
    QString gzipOnly;   // PATH of a machine without it
    VirtualDrive *source = nullptr;
    QString ntfsBefore;

    // One engine run with the given PATH; returns its exit status, and the compressor calls it made.
    int engine(const QStringList &args, const QString &drive, const QString &path, QStringList *calls)
    {
        QFile::remove(CALLS);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + drive.mid(5) + "\n");
        const Sandbox::Result r = Sandbox::run("vaultine", args, QByteArray(),
                                               {"PATH=" + path, "GUI_TYPE=Q", "-HDD", "SPLIT_SIZE=1"}, 600000);
        *calls = QString::fromLatin1(Sandbox::readFile(CALLS)).split('\n', Qt::SkipEmptyParts);
        if (r.exitCode != 0)
            qWarning("vaultine %s: %d\n%s", qPrintable(args.join(' ')), r.exitCode, r.out.right(3000).constData());
        return r.exitCode;
    }

    // The restored drive holds the source's raw partition and its NTFS files.
    void verifyRestored(VirtualDrive &target)
    {
        QCOMPARE(md5Of(target.partition(1)), md5Of(source->partition(1)));
        QCOMPARE(ntfsFiles(target, 2), ntfsBefore);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QVERIFY2(QFile::exists("/usr/bin/pigz"), "pigz is not installed (scripts/setup installs it)");
        const QString bin = Sandbox::binDir();
        // Everything of /usr/bin and /usr/sbin but pigz, as links.
        QCOMPARE(Sandbox::sh("rm -rf /tmp/no-pigz && mkdir /tmp/no-pigz && for f in /usr/sbin/* /usr/bin/*; do "
                             "case ${f##*/} in pigz|unpigz) ;; *) ln -sf \"$f\" /tmp/no-pigz/; esac; done")
                     .exitCode, 0);
        withPigz = recorders("/tmp/rec-pigz", {"pigz", "gzip", "gunzip"}) + ":" + Sandbox::doublesDir() + ":" + bin
            + ":/usr/sbin:/usr/bin";
        gzipOnly = recorders("/tmp/rec-gzip", {"gzip", "gunzip"}) + ":" + Sandbox::doublesDir() + ":" + bin + ":/tmp/no-pigz";
        QCOMPARE(Sandbox::run("sh", {"-c", "command -v pigz || echo none"}, {}, {"PATH=" + gzipOnly}).out, QByteArray("none\n"));

        // A raw partition with random bytes and an NTFS volume with files: both handlers compress.
        source = new VirtualDrive("zip-src", "96M");
        QVERIFY(source->makeGpt({"-n", "1:2048:+12M", "-t", "1:8300", "-n", "2:0:+60M", "-t", "2:0700"}));
        sh("head -c 6M /dev/urandom | dd of=" + source->partition(1) + " conv=notrunc status=none");
        QVERIFY(source->makeFileSystem(2, "ntfs", "Windows"));
        QVERIFY(source->mount(2, "ntfs", "/mnt/fill"));
        sh("head -c 5M /dev/urandom > /mnt/fill/media.bin && seq 1 300000 > /mnt/fill/numbers.txt");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        ntfsBefore = ntfsFiles(*source, 2);
        QVERIFY(ntfsBefore.contains("media.bin") && ntfsBefore.contains("numbers.txt"));
    }

    void cleanupTestCase()
    {
        delete source;
    }

    void init()
    {
        QDir(SET_DIR).removeRecursively();
        QDir().mkpath(SET_DIR);
        QFile::remove("/tmp/.nosums");
    }

    // Made with pigz, restored where only gzip exists; and the reverse. Each set has the same
    // members (the NTFS image in 1 MB pieces), a checksum list that the restore checks, and
    // streams plain gzip reads.
    void setsCrossBetweenPigzAndGzip_data()
    {
        QTest::addColumn<bool>("backupWithPigz");
        QTest::newRow("pigz set, gzip restore") << true;
        QTest::newRow("gzip set, pigz restore") << false;
    }

    void setsCrossBetweenPigzAndGzip()
    {
        QFETCH(bool, backupWithPigz);
        QStringList calls;
        QCOMPARE(engine({"-b", "bim", SET_DIR + "/z.bim"}, source->device(), backupWithPigz ? withPigz : gzipOnly, &calls), 0);
        QCOMPARE(calls.filter(QRegularExpression(backupWithPigz ? "^pigz -c" : "^gzip -c")).size(), 2);
        QVERIFY2(calls.filter(backupWithPigz ? QRegularExpression("^g") : QRegularExpression("^pigz")).isEmpty(), qPrintable(calls.join('\n')));

        QStringList members = QDir(SET_DIR).entryList(QDir::Files, QDir::Name);
        QVERIFY2(members.size() > 6, qPrintable(members.join(' ')));
        // Both images exceed the 1 MiB split size (6 MB of random data in partition 1): both are in pieces.
        QCOMPARE(members.mid(0, 3), QStringList({"z.bim", "z.bim.gptb", "z.bim.p1.000"}));
        QVERIFY(members.contains("z.bim.p1.005") && members.contains("z.bim.p2.002") && !members.contains("z.bim.p1"));
        QCOMPARE(members.mid(members.size() - 2), QStringList({"z.bim.sums", "z.bim.txt"}));
        QCOMPARE(sh("cd " + SET_DIR + " && cat z.bim.p1.??? | /usr/bin/gzip -t && cat z.bim.p2.??? | /usr/bin/gzip -t && echo good").trimmed(),
                 QString("good"));
        QCOMPARE(sh("wc -l < " + SET_DIR + "/z.bim.sums").trimmed().toInt(), members.size() - 2);

        VirtualDrive target("zip-dst", "96M");
        QCOMPARE(engine({"-r", "bim", SET_DIR + "/z.bim"}, target.device(), backupWithPigz ? gzipOnly : withPigz, &calls), 0);
        // gunzip is a script that calls gzip -d: its inner call is recorded too.
        QCOMPARE(calls.filter(QRegularExpression(backupWithPigz ? "^gunzip -c" : "^pigz -dc")).size(), 2);
        QVERIFY2(calls.filter(backupWithPigz ? QRegularExpression("^pigz") : QRegularExpression("^g")).isEmpty(), qPrintable(calls.join('\n')));
        verifyRestored(target);
    }
};

QTEST_GUILESS_MAIN(TstCompression)
#include "tst_compression.moc"
