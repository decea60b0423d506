// The image set's piece lookups, its checksum list (format checked against md5sum) and the
// verification that must catch a changed, missing or unreadable member.
#include "capture.h"
#include "imageset.h"
#include "sandbox.h"
#include "systemutils.h"

#include <QDir>
#include <QFile>
#include <QtTest>

static const QString DIR = QStringLiteral("/tmp/set");

static void touch(const QString &name, const QByteArray &content)
{
    QVERIFY(Sandbox::writeFile(DIR + '/' + name, content));
}

static QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QFileInfo(p).fileName();
    return out;
}

class TstImageSet : public QObject
{
    Q_OBJECT
    SystemUtils *utils = nullptr;

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        utils = new SystemUtils;
    }

    void init()
    {
        QDir(DIR).removeRecursively();
        QDir().mkpath(DIR);
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task", "/var/log/rcv_status"})
            QFile::remove(f);
        // A set of a GPT drive with a split partition 2, a shrunk clone's original table, logs,
        // more than 100 raw pieces' worth of names, and strangers that share the prefix.
        for (const char *f : {"x.bim", "x.bim.gptb", "x.bim.orig.gptb", "x.bim.orig", "x.bim.p1", "x.bim.p2.000",
                              "x.bim.p2.001", "x.bim.p2.log", "x.bim.p12", "x.bim.txt", "x.bim.000", "x.bim.099",
                              "x.bim.100", "x.bim.pdf", "x.bim2", "x.bim.p2.0001", "y.bim", "x.bim.p1.bak"})
            touch(f, QByteArray("content of ") + f);
        QDir().mkpath(DIR + "/x.bim.p3");   // a directory is never a member
    }

    void pieces()
    {
        const ImageSet set(DIR + "/x.bim");
        QCOMPARE(names(set.partitionPieces(2)), (QStringList{"x.bim.p2.000", "x.bim.p2.001"}));
        QVERIFY(set.partitionPieces(1).isEmpty());
        QVERIFY(set.partitionPieces(3).isEmpty());
        QCOMPARE(names(set.partitionImageFiles(1)), QStringList{"x.bim.p1"});   // not p12, not p1.bak
        QCOMPARE(names(set.partitionImageFiles(2)), (QStringList{"x.bim.p2.000", "x.bim.p2.001"}));
        QCOMPARE(names(set.numberedPieces()), (QStringList{"x.bim.000", "x.bim.099", "x.bim.100"}));
        QCOMPARE(set.partitionPieces(2).first(), DIR + "/x.bim.p2.000");
        QCOMPARE(ImageSet::binaryStem("/mnt/usb/x.bin.000"), QString("/mnt/usb/x.bin"));
        QCOMPARE(ImageSet::binaryStem("/mnt/usb/x.bin"), QString("/mnt/usb/x.bin"));
        QCOMPARE(ImageSet(DIR + "/../set/x.bim").path(), DIR + "/x.bim");
    }

    void checksumListFormatAndSelection()
    {
        const ImageSet set(DIR + "/x.bim");
        const QByteArray out = captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        QCOMPARE(out, QByteArray("Creating checksum list for image files\nChecksum list created\n"));

        // The same list made by md5sum over exactly the members it must cover, in name order.
        const Sandbox::Result oracle = Sandbox::sh(
            "cd /tmp/set && for f in x.bim x.bim.000 x.bim.099 x.bim.100 x.bim.gptb x.bim.p1 x.bim.p12 "
            "x.bim.p2.000 x.bim.p2.001; do printf '%s : %s\\n' \"$(md5sum < \"$f\" | cut -c1-32)\" \"$f\"; done");
        QCOMPARE(oracle.exitCode, 0);
        QCOMPARE(Sandbox::readFile(DIR + "/x.bim.sums"), oracle.out);
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Generating integrity files\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Saving Integrity file\n"));
        const QByteArray debug = Sandbox::readFile("/var/log/vtl_debug.log");
        QVERIFY(debug.contains("Generating checksum for /tmp/set/x.bim.p2.001"));
        QVERIFY(!debug.contains("x.bim.txt"));

        // A second list replaces the first and never lists itself.
        captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        QCOMPARE(Sandbox::readFile(DIR + "/x.bim.sums"), oracle.out);
    }

    void unreadableMemberIsLeftOut()
    {
        QDir(DIR).removeRecursively();
        QDir().mkpath(DIR);
        touch("a.bim", "table");
        touch("a.bim.p1", "image");
        // Root reads anything: a member that cannot be opened is a dangling link.
        QVERIFY(QFile::link(DIR + "/gone", DIR + "/a.bim.p2"));
        const ImageSet set(DIR + "/a.bim");
        QCOMPARE(set.checksumMembers(), (QStringList{"a.bim", "a.bim.p1"}));
        captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        QCOMPARE(Sandbox::readFile(DIR + "/a.bim.sums").count('\n'), 2);
    }

    void verificationPasses()
    {
        const ImageSet set(DIR + "/x.bim");
        captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        bool ran = false;
        const QByteArray out = captureFd(1, [&] { QCOMPARE(set.verifyChecksumList(*utils, &ran), 0); });
        QVERIFY(ran);
        QVERIFY(out.startsWith("Verifying checksums of image files\n"));
        QVERIFY(out.endsWith("Image files verified\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Files Verified\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Checking File integrity\n"));
        // A member the list does not name is not checked.
        touch("x.bim.p7", "added later");
        captureFd(1, [&] { QCOMPARE(set.verifyChecksumList(*utils), 0); });
    }

    void verificationCatchesChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("member");
        QTest::newRow("changed piece") << "echo x >> /tmp/set/x.bim.p2.001" << "x.bim.p2.001";
        QTest::newRow("piece past 099") << "printf 'Content of x.bim.100' > /tmp/set/x.bim.100" << "x.bim.100";
        QTest::newRow("missing member") << "rm /tmp/set/x.bim.gptb" << "x.bim.gptb";
        QTest::newRow("same size, one bit") << "printf 'C' | dd of=/tmp/set/x.bim conv=notrunc status=none" << "x.bim";
    }
    void verificationCatchesChanges()
    {
        QFETCH(QString, change);
        QFETCH(QString, member);
        const ImageSet set(DIR + "/x.bim");
        captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        QCOMPARE(Sandbox::sh(change).exitCode, 0);
        const QByteArray out = captureFd(1, [&] { QCOMPARE(set.verifyChecksumList(*utils), 1018); });
        QCOMPARE(QString::fromLocal8Bit(out).count("does not match"), 1);
        QVERIFY2(out.contains(("The checksum for " + member + " does not match\n").toUtf8()), out.constData());
        QVERIFY(!out.contains("Image files verified"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Checking file 10 of 10\n"));
    }

    void everyMismatchIsNamed()
    {
        const ImageSet set(DIR + "/x.bim");
        captureFd(1, [&] { QVERIFY(set.writeChecksumList(*utils)); });
        touch("x.bim.p1", "other");
        touch("x.bim.000", "other");
        const QByteArray out = captureFd(1, [&] { QCOMPARE(set.verifyChecksumList(*utils), 1018); });
        QVERIFY(out.contains("The checksum for x.bim.000 does not match"));
        QVERIFY(out.contains("The checksum for x.bim.p1 does not match"));
    }

    void noListNoCheck()
    {
        bool ran = true;
        const QByteArray out = captureFd(1, [&] { QCOMPARE(ImageSet(DIR + "/x.bim").verifyChecksumList(*utils, &ran), 0); });
        QVERIFY(!ran);
        QVERIFY(out.isEmpty());
    }

    void checksumLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "900150983cd24fb0d6963f7d28e17f72 : x.bim.p1" << true << "x.bim.p1";
        QTest::newRow("name with a colon") << "900150983cd24fb0d6963f7d28e17f72 : a : b.bim" << true << "a : b.bim";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("no separator") << "900150983cd24fb0d6963f7d28e17f72 x.bim" << false << "";
        QTest::newRow("no name") << "900150983cd24fb0d6963f7d28e17f72 : " << false << "";
    }
    void checksumLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        QFETCH(QString, name);
        QString digest, file;
        QCOMPARE(ImageSet::parseChecksumLine(line, &digest, &file), valid);
        if (valid) {
            QCOMPARE(file, name);
            QCOMPARE(ImageSet::checksumLine(digest, file), line);
        }
    }
};

QTEST_GUILESS_MAIN(TstImageSet)
#include "tst_imageset.moc"
