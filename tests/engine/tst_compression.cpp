// The compressed sets are one gzip stream per partition whichever tool wrote them: vaultine
// compresses with pigz where it is on PATH and with gzip where it is not, and a set written one way
// restores the other way. With IMAGE_CODEC=zstd the streams are zstd, in the same members; a
// restore reads each by its first bytes, and refuses a member of neither kind before it writes
// the drive. The real vaultine on loop drives; "a machine without pigz" (or zstd) is a PATH built
// from /usr/bin and /usr/sbin without it. Small recorders in front of the real tools note which
// one ran and hand everything over to it.
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

// A PATH folder of links to everything in /usr/sbin and /usr/bin except the named tools.
QString without(const QString &dir, const QString &toolPattern)
{
    const Sandbox::Result r = Sandbox::sh("rm -rf " + dir + " && mkdir " + dir + " && for f in /usr/sbin/* /usr/bin/*; do case ${f##*/} in "
                                          + toolPattern + ") ;; *) ln -sf \"$f\" " + dir + "/; esac; done");
    return r.exitCode == 0 ? dir : QString();
}

// The first bytes of a file, in hexadecimal.
QString head(const QString &path)
{
    return sh("head -c 4 '" + path + "' | od -An -tx1 | tr -d ' \n'");
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

    QString withPigz;   // PATH of a machine with pigz (and zstd)
    QString gzipOnly;   // PATH of a machine without pigz
    QString noZstd;     // PATH of a machine without zstd
    VirtualDrive *source = nullptr;
    QString ntfsBefore;

    // One engine run with the given PATH; returns its exit status, and the compressor calls it
    // made; out (when given) receives its messages.
    int engine(const QStringList &args, const QString &drive, const QString &path, QStringList *calls,
               const QString &codec = QString(), QString *out = nullptr, int expected = 0)
    {
        QFile::remove(CALLS);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + drive.mid(5) + "\n");
        const Sandbox::Result r = Sandbox::run("vaultine", args, QByteArray(),
                                               {"PATH=" + path, "GUI_TYPE=Q", "-HDD", "SPLIT_SIZE=1",
                                                codec.isEmpty() ? QString("-IMAGE_CODEC") : "IMAGE_CODEC=" + codec},
                                               600000);
        *calls = QString::fromLatin1(Sandbox::readFile(CALLS)).split('\n', Qt::SkipEmptyParts);
        if (out)
            *out = QString::fromLocal8Bit(r.out);
        if (r.exitCode != (expected & 255))
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
        withPigz = recorders("/tmp/rec-pigz", {"pigz", "gzip", "gunzip", "zstd"}) + ":" + Sandbox::doublesDir() + ":" + bin
            + ":/usr/sbin:/usr/bin";
        gzipOnly = recorders("/tmp/rec-gzip", {"gzip", "gunzip"}) + ":" + Sandbox::doublesDir() + ":" + bin + ":/tmp/no-pigz";
        QCOMPARE(Sandbox::run("sh", {"-c", "command -v pigz || echo none"}, {}, {"PATH=" + gzipOnly}).out, QByteArray("none\n"));
        QVERIFY2(QFile::exists("/usr/bin/zstd"), "zstd is not installed (scripts/setup installs it)");
        noZstd = Sandbox::doublesDir() + ":" + bin + ":" + without("/tmp/no-zstd", "*zstd*");
        QCOMPARE(Sandbox::run("sh", {"-c", "command -v zstd || echo none"}, {}, {"PATH=" + noZstd}).out, QByteArray("none\n"));

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
        enginerun::freshStart(SET_DIR, {"/tmp/.nosums"});
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

    // A gzip set and a zstd set of the same drive, restored one after the other onto the same
    // drive: the same members, each stream in its own format, and the same files back. The restore
    // runs without IMAGE_CODEC and with the other setting: the first bytes decide.
    void gzipAndZstdSetsRestoreOntoOneDrive()
    {
        QStringList calls;
        QCOMPARE(engine({"-b", "bim", SET_DIR + "/g.bim"}, source->device(), withPigz, &calls), 0);
        QVERIFY2(calls.filter(QRegularExpression("^zstd")).isEmpty(), qPrintable(calls.join('\n')));
        QString out;
        QCOMPARE(engine({"-b", "bim", SET_DIR + "/z.bim"}, source->device(), withPigz, &calls, "zstd", &out), 0);
        QVERIFY2(out.contains("Partition images are compressed with zstd"), qPrintable(out));
        QCOMPARE(calls.filter(QRegularExpression("^zstd -q -T0 -3 -c")).size(), 2);
        QVERIFY2(calls.filter(QRegularExpression("^(pigz|gzip)")).isEmpty(), qPrintable(calls.join('\n')));

        const QStringList gzipSet = QDir(SET_DIR).entryList({"g.bim*"}, QDir::Files, QDir::Name);
        const QStringList zstdSet = QDir(SET_DIR).entryList({"z.bim*"}, QDir::Files, QDir::Name);
        QCOMPARE(QStringList(zstdSet).replaceInStrings(QRegularExpression("^z"), "g"), gzipSet);
        QVERIFY2(zstdSet.contains("z.bim.p1.001") && zstdSet.contains("z.bim.p2.000") && zstdSet.contains("z.bim.sums"),
                 qPrintable(zstdSet.join(' ')));
        for (const QString member : {"p1.000", "p2.000"}) {
            QCOMPARE(head(SET_DIR + "/g.bim." + member).left(4), QString("1f8b"));
            QCOMPARE(head(SET_DIR + "/z.bim." + member), QString("28b52ffd"));
        }
        // The table files are the same bytes; the list covers the same members.
        QCOMPARE(md5Of(SET_DIR + "/z.bim"), md5Of(SET_DIR + "/g.bim"));
        QCOMPARE(md5Of(SET_DIR + "/z.bim.gptb"), md5Of(SET_DIR + "/g.bim.gptb"));
        QCOMPARE(sh("cut -d' ' -f3 " + SET_DIR + "/z.bim.sums | sed 's/^z/g/'"), sh("cut -d' ' -f3 " + SET_DIR + "/g.bim.sums"));
        QCOMPARE(sh("cd " + SET_DIR + " && cat z.bim.p1.??? | zstd -dc | md5sum"), sh("cd " + SET_DIR + " && cat g.bim.p1.??? | gzip -dc | md5sum"));

        VirtualDrive target("codec-dst", "96M");
        for (const QString set : {"z.bim", "g.bim"}) {
            // The drive starts blank each time: what it holds afterwards came from this set.
            sh("dd if=/dev/zero of=" + target.device() + " bs=1M count=96 conv=fsync status=none");
            const bool zstd = set.startsWith('z');
            QCOMPARE(engine({"-r", "bim", SET_DIR + "/" + set}, target.device(), withPigz, &calls, zstd ? "" : "zstd", &out), 0);
            QVERIFY2(out.contains("Image files verified"), qPrintable(out));
            QCOMPARE(calls.filter(QRegularExpression(zstd ? "^zstd -q -dc" : "^pigz -dc")).size(), 2);
            QVERIFY2(calls.filter(QRegularExpression(zstd ? "^(pigz|gzip|gunzip)" : "^zstd")).isEmpty(), qPrintable(calls.join('\n')));
            verifyRestored(target);
        }
    }

    // A member that is neither gzip nor zstd (its list rewritten so that the checksums pass), and
    // a zstd set where zstd is missing, are refused before the drive is written, naming the member.
    void unreadableMemberRefusedBeforeTheDriveIsWritten()
    {
        QStringList calls;
        QCOMPARE(engine({"-b", "bim", SET_DIR + "/z.bim"}, source->device(), withPigz, &calls, "zstd"), 0);
        VirtualDrive target("refuse-dst", "96M");
        sh("head -c 96M /dev/urandom | dd of=" + target.device() + " bs=1M conv=fsync status=none");
        const QString pristine = md5Of(target.device());

        QString out;
        QCOMPARE(engine({"-r", "bim", SET_DIR + "/z.bim"}, target.device(), noZstd, &calls, QString(), &out, 1016), 1016 & 255);
        QVERIFY2(out.contains("ERROR: Image file z.bim.p1.000 is a zstd stream, and zstd is not installed"), qPrintable(out));
        QCOMPARE(md5Of(target.device()), pristine);

        // The second partition's first piece made a bzip2 stream; the list still matches.
        sh("cd " + SET_DIR + " && printf 'BZh91AY&SY' | dd of=z.bim.p2.000 conv=notrunc status=none"
           " && for f in $(cut -d' ' -f3 z.bim.sums); do echo \"$(md5sum < $f | cut -d' ' -f1) : $f\"; done > sums.new"
           " && mv sums.new z.bim.sums");
        QCOMPARE(engine({"-d", "bim", SET_DIR + "/z.bim"}, target.device(), withPigz, &calls, "zstd", &out, 1016), 1016 & 255);
        QVERIFY2(out.contains("Image files verified"), qPrintable(out));
        QVERIFY2(out.contains("ERROR: Image file z.bim.p2.000 is neither a gzip nor a zstd stream (it begins with 42 5a 68 39)\n"
                              "Nothing was written to " + target.device()), qPrintable(out));
        QVERIFY2(out.contains("Error:  Restore/Deploy Failed"), qPrintable(out));
        QVERIFY2(calls.isEmpty(), qPrintable(calls.join('\n')));
        QCOMPARE(md5Of(target.device()), pristine);
    }

    // A zstd backup where zstd is missing, or a codec the engine does not know, fails at once with
    // the reason, and the earlier set of that name stays as it was.
    void zstdBackupNeedsZstd_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("reason");
        QTest::newRow("zstd missing") << "zstd" << "ERROR: IMAGE_CODEC asks for zstd images, and zstd is not installed";
        QTest::newRow("unknown codec") << "xz" << "ERROR: IMAGE_CODEC=xz names no codec the engine writes (gzip or zstd)";
    }

    void zstdBackupNeedsZstd()
    {
        QFETCH(QString, codec);
        Sandbox::writeFile(SET_DIR + "/old.bim", "earlier set");
        QStringList calls;
        QString out;
        QCOMPARE(engine({"-b", "bim", SET_DIR + "/old.bim"}, source->device(), noZstd, &calls, codec, &out, 1015), 1015 & 255);
        QTEST(out.split('\n').filter("ERROR:").value(0), "reason");
        QVERIFY2(out.contains("Backing up " + source->device().mid(5) + " FAILED"), qPrintable(out));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status").trimmed(), QByteArray("FAILED"));
        QCOMPARE(QDir(SET_DIR).entryList(QDir::Files), QStringList({"old.bim"}));
        QCOMPARE(Sandbox::readFile(SET_DIR + "/old.bim"), QByteArray("earlier set"));
    }
};

QTEST_GUILESS_MAIN(TstCompression)
#include "tst_compression.moc"
