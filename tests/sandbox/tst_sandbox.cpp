// The sandbox itself: fixed paths are private and writable, doubles shadow real tools, virtual
// drives get real partitions, and clean-up detaches them.
#include "sandbox.h"
#include "virtualdrive.h"

#include <QFile>
#include <QtTest>

class TstSandbox : public QObject
{
    Q_OBJECT
private slots:
    void fixedPathsArePrivate()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QVERIFY(Sandbox::writeFile("/etc/version", "sandbox version\n"));
        QVERIFY(Sandbox::writeFile("/var/log/rcv_status", "x\n"));
        QVERIFY(Sandbox::writeFile("/var/hardware/platform", "p\n"));
        // /var/log is a fresh tmpfs: only what this run wrote is there.
        QCOMPARE(QDir("/var/log").entryList(QDir::Files), QStringList{"rcv_status"});
        const Sandbox::Result mounts = Sandbox::run("findmnt", {"-n", "-o", "FSTYPE", "/var/log"});
        QCOMPARE(QString::fromLatin1(mounts.out).trimmed(), QString("tmpfs"));
    }

    void doublesComeFirstOnPath()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Sandbox::writeDouble("dmidecode", "#!/bin/sh\necho \"double $*\"\n");
        const Sandbox::Result r = Sandbox::run("dmidecode", {"-s", "system-product-name"});
        QCOMPARE(r.out, QByteArray("double -s system-product-name\n"));
    }

    void networkIsPrivateLoopbackOnly()
    {
        BRENLOW_REQUIRE_SANDBOX();
        const Sandbox::Result r = Sandbox::run("ip", {"-o", "link"});
        QCOMPARE(QString::fromLatin1(r.out).count('\n'), 1);
        QVERIFY(r.out.contains("lo:"));
    }

    void gptDriveGetsPartitionNodes()
    {
        BRENLOW_REQUIRE_SANDBOX();
        VirtualDrive drive("gpt", "64M");
        QVERIFY(drive.isValid());
        QVERIFY(drive.makeGpt({"-n", "1:2048:+8M", "-t", "1:ef00", "-n", "2:0:0", "-t", "2:0700"}));
        QVERIFY(QFile::exists(drive.partition(1)));
        QVERIFY(QFile::exists(drive.partition(2)));
        QVERIFY(drive.partition(2).endsWith("p2"));
        QVERIFY(drive.makeFileSystem(2, "ntfs"));
        QVERIFY(drive.mount(2, "ntfs", "/mnt/data"));
        QVERIFY(Sandbox::writeFile("/mnt/data/hello.txt", "hello"));
        QVERIFY(VirtualDrive::unmount("/mnt/data"));
        QVERIFY(drive.mount(2, "ntfs", "/mnt/data"));
        QCOMPARE(Sandbox::readFile("/mnt/data/hello.txt"), QByteArray("hello"));
        QVERIFY(drive.setAsSystemDrive());
        QCOMPARE(Sandbox::run("ahd.sh", {}).out.trimmed(), drive.kernelName().toLatin1());
    }

    void dosDriveAndDetach()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QString image;
        {
            VirtualDrive drive("dos", "32M");
            QVERIFY(drive.makeDos("label: dos\n,16M,7\n,,27\n"));
            QVERIFY(QFile::exists(drive.partition(2)));
            image = drive.image();
            QVERIFY(Sandbox::run("losetup", {"-j", image}).out.contains(drive.device().toLatin1()));
        }
        // Asked by the backing file, not the device's name: a test running beside this one may
        // already have been given the same loop device for its own drive.
        const Sandbox::Result r = Sandbox::run("losetup", {"-j", image});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TstSandbox)
#include "tst_sandbox.moc"
