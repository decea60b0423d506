// The console's drives and media on real loop drives: parted's description of the system drive,
// USB sticks found through a /sys/class/block view and mounted at /mnt/usb, partitions mounted
// over stacked mounts, capacity, and the Wipe Drive row zeroing a drive through the real zblit
// while the progress dialog moves (and telling the technician when it could not).

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "consolefixture.h"
#include "diskhandler.h"
#include "progress.h"
#include "pxeclient.h"
#include "sandbox.h"
#include "ui_progress.h"
#include "ui_pxeclient.h"
#include "utils.h"
#include "virtualdrive.h"

using namespace ConsoleFixture;

class TestDiskHandler : public QObject
{
    Q_OBJECT

private:
    DiskHandler *disk = nullptr;

    static int mountsAt(const QString &dir)
    {
        return QString::fromLatin1(Sandbox::readFile("/proc/self/mounts")).count(' ' + dir + ' ');
    }
    static QString md5(const QString &device)
    {
        return QString::fromLatin1(Sandbox::sh("md5sum < " + device).out).section(' ', 0, 0);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Utils::InitLogger(2);
        writeStyleSheet(16);
        Sandbox::writeDouble("get_pxeswitch.sh", "#!/bin/sh\necho 'PXE boot'\necho disabled\n");
        disk = DiskHandler::GetInstance();
    }

    void driveSizeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("128GB") << "128GB" << Q_INT64_C(128000000000);
        QTest::newRow("15.6GB") << " 15.6GB" << Q_INT64_C(15600000000);
        QTest::newRow("500MB") << "500MB" << Q_INT64_C(500000000);
        QTest::newRow("GiB counts as GB") << "8GiB" << Q_INT64_C(8000000000);
        QTest::newRow("kB") << "512kB" << Q_INT64_C(512000);
        QTest::newRow("TB") << "12.0TB" << Q_INT64_C(12000000000000);
        QTest::newRow("no unit") << "4096" << Q_INT64_C(4096);
        QTest::newRow("not a number") << "unknown" << Q_INT64_C(1);
    }

    void driveSizeText()
    {
        QFETCH(QString, text);
        QTEST(DiskHandler::ParseDriveSize(text), "bytes");
    }

    void partitionNodes_data()
    {
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("node");
        QTest::newRow("sda") << "sda" << "/dev/sda3";
        QTest::newRow("mmcblk0") << "mmcblk0" << "/dev/mmcblk0p3";
        QTest::newRow("nvme0n1") << "nvme0n1" << "/dev/nvme0n1p3";
        QTest::newRow("loop12") << "loop12" << "/dev/loop12p3";
    }

    void partitionNodes()
    {
        QFETCH(QString, drive);
        const QString saved = disk->activeDrive;
        disk->activeDrive = drive;
        QTEST(disk->PartitionDevice(3), "node");
        disk->activeDrive = saved;
    }

    // parted's description of a real drive, with 512-byte and with 4096-byte sectors.
    void driveInformation()
    {
        VirtualDrive unit("unit", "64M");
        QVERIFY(unit.makeGpt({"-n", "1:2048:+20M", "-n", "2:0:0"}));
        QVERIFY(unit.setAsSystemDrive());
        disk->InitBootDiskInfo();
        QCOMPARE(disk->activeDrive, unit.kernelName());
        QCOMPARE(disk->diskDevice, unit.device());
        QCOMPARE(disk->diskModel, QStringLiteral("Loopback device (loopback)"));
        QCOMPARE(disk->diskSizeText, QStringLiteral("67.1MB"));
        QCOMPARE(disk->driveSize, Q_INT64_C(67100000));
        QCOMPARE(disk->sectorSizeText, QStringLiteral("512"));
        QCOMPARE(disk->partitionTableText, QStringLiteral("gpt"));
        QCOMPARE(disk->GetHdCapacityInBlocks(), Q_INT64_C(131072));
        QCOMPARE(disk->GetHdCapacityInBlocks("loop-none"), Q_INT64_C(0));
        const QStringList partitions = disk->GetPartitionList().filter(QRegularExpression("^ *[12] "));
        QCOMPARE(partitions.size(), 2);
        QVERIFY(mainLog().contains(QStringLiteral("Drive=%1, model=Loopback device (loopback), size=67.1MB, "
                                                  "csize=67100000, sectorSize=512 \n").arg(unit.device())));

        // A drive of 4096-byte sectors (logical and physical).
        const QString image = Sandbox::root() + "/drives/big-sectors.img";
        const Sandbox::Result attached = Sandbox::sh("truncate -s 64M " + image + " && dev=$(losetup -b 4096 -f --show " +
                                                     image + ") && echo $dev >> $BRENLOW_SANDBOX/loops && "
                                                     "sgdisk -o $dev >/dev/null && echo $dev");
        QCOMPARE(attached.exitCode, 0);
        const QString device = QString::fromLatin1(attached.out).trimmed();
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + device.mid(5) + "\n");
        disk->InitBootDiskInfo();
        QCOMPARE(disk->sectorSizeText, QStringLiteral("4096"));
        QCOMPARE(DiskHandler::ParseSectorSize("512B/4096B"), QStringLiteral("4096"));
        QCOMPARE(DiskHandler::ParseSectorSize("4kB/4kB"), QStringLiteral("4096"));
        Sandbox::sh("losetup -d " + device);
        // No system drive: nothing is described.
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
        disk->InitBootDiskInfo();
        QVERIFY(disk->activeDrive.isEmpty() && disk->diskModel.isEmpty() && disk->driveSize == 0);
    }

    // Two sticks: the first partition ls lists is mounted at /mnt/usb; the disks themselves and
    // other drives are not sticks. The Unmount USB row takes it off again.
    void usbSticks()
    {
        VirtualDrive first("stick-a", "64M"), second("stick-b", "64M");
        for (VirtualDrive *stick : {&first, &second}) {
            QVERIFY(stick->makeDos("label: dos\ntype=83\n"));
            QVERIFY(stick->makeFileSystem(1, "ext4", stick == &first ? "FIRST" : "SECOND"));
        }
        QVERIFY(showAsUsbPartitions({first.partition(1), second.partition(1)}));
        QVERIFY(disk->findUsbDrives());
        QStringList expected = {first.partition(1), second.partition(1)};
        std::sort(expected.begin(), expected.end());   // ls order
        QCOMPARE(disk->usbDrives, expected);
        QVERIFY(disk->MountUsb());
        QVERIFY(disk->isUsbMounted());
        const QString source = QString::fromLatin1(Sandbox::sh("findmnt -n -o SOURCE /mnt/usb").out).trimmed();
        QCOMPARE(source, expected.first());

        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
        QScopedPointer<PxeClient> window(new PxeClient);
        QCOMPARE(window->GetUsbMountPath(true), QStringLiteral("/mnt/usb"));
        QTest::mouseClick(window->ui->pbUnmountUsb, Qt::LeftButton);
        QCOMPARE(mountsAt("/mnt/usb"), 0);
        QVERIFY(!window->isBusy);
        // Without sticks: quiet gives an empty path, otherwise the technician is told.
        QVERIFY(showAsUsbPartitions({}));
        QCOMPARE(window->GetUsbMountPath(true), QString());
        Answer *warning = answerNextDialog(true);
        QCOMPARE(window->GetUsbMountPath(false), QString());
        QCOMPARE(warning->title, QStringLiteral("Could Not Mount USB Drive"));
        QCOMPARE(warning->text, QStringLiteral("Failed to mount the USB Drive"));
        Sandbox::sh("umount /sys/class/block");
    }

    // Mounts stacked on /mnt/hd/p1 are all taken off before the partition is mounted once.
    void partitionMounts()
    {
        VirtualDrive unit("unit", "64M");
        QVERIFY(unit.makeGpt({"-n", "1:2048:+20M", "-n", "2:0:0"}));
        QVERIFY(unit.makeFileSystem(1, "ext4", "ONE"));
        QVERIFY(unit.makeFileSystem(2, "ext4", "TWO"));
        QVERIFY(unit.setAsSystemDrive());
        disk->GetActiveHardDrive();
        QCOMPARE(Sandbox::sh("mkdir -p /mnt/hd/p1 && for i in 1 2 3; do mount -t tmpfs stacked /mnt/hd/p1 || exit 1; done").exitCode, 0);
        QCOMPARE(mountsAt("/mnt/hd/p1"), 3);
        QVERIFY(disk->MountPartition(1));
        QCOMPARE(mountsAt("/mnt/hd/p1"), 1);
        QCOMPARE(QString::fromLatin1(Sandbox::sh("findmnt -n -o SOURCE /mnt/hd/p1").out).trimmed(), unit.partition(1));
        QVERIFY(!disk->MountPartition(7));
        Sandbox::sh("umount /mnt/hd/p1");
    }

    // The Wipe Drive row: asked, umountdrives.sh, zblit with the progress dialog moving, the
    // drive all zeros afterwards.
    void wipeRow()
    {
        VirtualDrive unit("wiped", "48M");
        QVERIFY(unit.makeGpt({"-n", "1:2048:0"}));
        QVERIFY(unit.makeFileSystem(1, "ext4"));
        QVERIFY(unit.mount(1, "ext4", "/mnt/hd/p1"));
        QCOMPARE(Sandbox::sh("head -c 30M /dev/urandom > /mnt/hd/p1/data").exitCode, 0);
        QVERIFY(unit.setAsSystemDrive());
        QScopedPointer<PxeClient> window(new PxeClient);
        window->show();
        int highest = 0;
        bool menuHidden = false;
        QTimer probe;
        connect(&probe, &QTimer::timeout, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *progress = qobject_cast<Progress *>(widget))
                    if (progress->isVisible())
                        highest = qMax(highest, progress->ui->progressBar->value());
            menuHidden = menuHidden || window->ui->frmMenu->isHidden();
        });
        probe.start(10);
        Answer *question = answerNextDialog(true);
        QTest::mouseClick(window->ui->pbWipeDrive, Qt::LeftButton);
        probe.stop();
        QCOMPARE(question->text, QStringLiteral("Are you certain you want wipe all data from %1?").arg(unit.kernelName()));
        QVERIFY(disk->lastError.isEmpty());
        QCOMPARE(mountsAt("/mnt/hd/p1"), 0);   // umountdrives.sh took it off first
        QCOMPARE(Sandbox::sh("cmp -n $((48*1024*1024)) " + unit.device() + " /dev/zero").exitCode, 0);
        QVERIFY2(highest > 0, qPrintable(QString::number(highest)));
        QVERIFY(menuHidden);
        QVERIFY(!window->isBusy && !window->ui->frmMenu->isHidden());
    }

    // A share that cannot be mounted: mount.cifs had the credentials in a file of their own,
    // which is gone afterwards; the password is in no log and nothing is mounted.
    void shareCredentialsGoneAfterAFailedMount()
    {
        const QString password = QStringLiteral("Pw-7#quartz");
        Sandbox::writeDouble("mount", "#!/bin/sh\n"
                                      "if [ \"$2\" = cifs ]; then\n"
                                      "  f=$(printf '%s' \"$6\" | sed -n 's/.*credentials=\\([^,]*\\).*/\\1/p')\n"
                                      "  [ -s \"$f\" ] && cat \"$f\" > \"$BRENLOW_SANDBOX/cifs-credentials\"\n"
                                      "  echo 'mount error(113): could not connect' >&2; exit 32\n"
                                      "fi\n"
                                      "exec /bin/mount \"$@\"\n");
        disk->MountSmb("tech", password, "WORK", "//fileserver/images");
        QFile::remove(Sandbox::doublesDir() + "/mount");
        QCOMPARE(Sandbox::readFile(Sandbox::root() + "/cifs-credentials"),
                 ("username=tech\npassword=" + password + "\ndomain=WORK\n").toUtf8());
        QCOMPARE(Sandbox::sh("ls -a /tmp | grep -c smb-credentials").out.trimmed(), QByteArray("0"));
        QVERIFY(!disk->isSmbMounted());
        for (const QString &log : {"/var/log/pxe_client.log", "/tmp/pxe-gui.log"})
            QVERIFY2(!Sandbox::readFile(log).contains(password.toUtf8()), qPrintable(log));
    }

    // A wipe that writes nothing, or fails, is a failure the technician is told about.
    void wipeFailures()
    {
        // zblit cannot write a read-only drive: the reason reaches the warning box.
        const QString image = Sandbox::root() + "/drives/readonly.img";
        const Sandbox::Result attached = Sandbox::sh("head -c 16M /dev/urandom > " + image + " && dev=$(losetup -r -f --show " +
                                                     image + ") && echo $dev >> $BRENLOW_SANDBOX/loops && echo $dev");
        QCOMPARE(attached.exitCode, 0);
        const QString device = QString::fromLatin1(attached.out).trimmed();
        const QString before = md5(device);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + device.mid(5) + "\n");
        QScopedPointer<PxeClient> window(new PxeClient);
        const QList<Answer *> answers = answerDialogs({true, true});
        QTest::mouseClick(window->ui->pbWipeDrive, Qt::LeftButton);
        QVERIFY(answers.at(1)->seen);
        QCOMPARE(answers.at(1)->title, QStringLiteral("Wipe Drive"));
        QVERIFY2(answers.at(1)->text.startsWith(QStringLiteral("The drive was not wiped: Wiping %1 failed (zblit exit code ")
                                                   .arg(device)), qPrintable(answers.at(1)->text));
        QVERIFY2(answers.at(1)->text.contains("Cannot open destination") || answers.at(1)->text.contains("Failed to write"),
                 qPrintable(answers.at(1)->text));
        QCOMPARE(md5(device), before);
        Sandbox::sh("losetup -d " + device);

        // A device without capacity is not wiped. It is one this test attached (an empty image):
        // a free device found with losetup -f could meanwhile carry another test's drive.
        const QString empty = Sandbox::root() + "/drives/empty.img";
        const Sandbox::Result idleAttached = Sandbox::sh(": > " + empty + " && dev=$(losetup -f --show " + empty +
                                                         " 2>/dev/null) && echo $dev >> $BRENLOW_SANDBOX/loops && echo $dev");
        QCOMPARE(idleAttached.exitCode, 0);
        const QString idle = QString::fromLatin1(idleAttached.out).trimmed().mid(5);
        QVERIFY(!idle.isEmpty());
        QVERIFY(!disk->WipeHardDrive(idle));
        QCOMPARE(disk->lastError, QStringLiteral("Could not determine drive capacity "));
        // mmcblk0p names the drive mmcblk0; a missing drive is not found.
        QVERIFY(!disk->WipeHardDrive("mmcblk0p"));
        QCOMPARE(disk->lastError, QStringLiteral("Drive Not Found"));
        QVERIFY(mainLog().contains("WipeHardDrive drive not found  mmcblk0 /dev/mmcblk0 \n"));
        disk->activeDrive.clear();
        QVERIFY(!disk->WipeHardDrive(QString()));
        QCOMPARE(disk->lastError, QStringLiteral("Drive empty"));
    }
};

QTEST_MAIN(TestDiskHandler)
#include "tst_diskhandler.moc"
