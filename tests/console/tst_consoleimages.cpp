// The console's backup and restore rows end to end, as a technician uses them: the real window
// and dialogs, the real vaultine (with ntfsclone, gzip, split, xblit ...) on loop drives standing
// for the unit's drive and for a USB stick, and a network share that a mount double provides as a
// tmpfs named after the share. A scripted technician answers every dialog in turn and notes what
// each one said; the engine's own debug log tells how it was started.
//
// With BRENLOW_SCREENSHOTS naming a folder (scripts/screenshots does, on its own X server), the
// backup's progress dialog is saved there; otherwise nothing is written outside the sandbox.

#include "consolefixture.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include "confirmationdialog.h"
#include "diskhandler.h"
#include "filesourcedialog.h"
#include "networksharedialog.h"
#include "progress.h"
#include "pxeclient.h"
#include "ui_filesourcedialog.h"
#include "ui_networksharedialog.h"
#include "ui_progress.h"
#include "ui_pxeclient.h"
#include "utils.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <functional>
#include <memory>

using namespace ConsoleFixture;

namespace {

const QString PASSWORD = QStringLiteral("pa ss$word'1");
const QString PROGRESS_SHOT = QStringLiteral("console-backup-progress.png");

QString sh(const QString &command)
{
    return QString::fromLocal8Bit(Sandbox::sh(command, 600000).out);
}

QString quoted(const QString &text)
{
    return '\'' + QString(text).replace('\'', "'\\''") + '\'';
}

QString md5Of(const QString &path)
{
    return sh("md5sum < " + quoted(path) + " | cut -d' ' -f1").trimmed();
}

// The arguments the last engine run was started with: its debug log's header line.
QString engineCommandLine()
{
    const QString log = QString::fromLocal8Bit(Sandbox::readFile("/var/log/vtl_debug.log"));
    const QRegularExpression header(QStringLiteral("\\S*vaultine (-[bcrd] .*)$"), QRegularExpression::MultilineOption);
    return header.match(log).captured(1).trimmed();
}

QString visibleText(QWidget *dialog)
{
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        return box->text();
    QStringList texts;
    for (QLabel *label : dialog->findChildren<QLabel *>())
        if (label->isVisible() && !label->text().isEmpty())
            texts << label->text();
    return texts.join('\n');
}

// Answers the console's modal dialogs one after the other with the given acts, notes each
// dialog's title and text ("title|text"), and watches the progress dialog of an engine run.
// A dialog that no act expects, or that an act cannot handle, is cancelled and noted as a
// problem, so that a flow never hangs on a question nobody answers.
class Technician : public QObject
{
public:
    using Act = std::function<QString(QWidget *)>;   // empty when handled, else the problem

    explicit Technician(const QList<Act> &acts) : acts(acts)
    {
        connect(&poll, &QTimer::timeout, this, [this]() { tick(); });
        poll.start(40);
    }

    bool finished() const { return next >= acts.size(); }
    void stop() { poll.stop(); }

    QStringList seen;
    QStringList problems;
    QStringList progressTitles;
    int progressMax = 0;
    bool progressShot = false;
    int shotValue = 0;

private:
    void tick()
    {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *progress = qobject_cast<Progress *>(window))
                if (progress->isVisible())
                    watchProgress(progress);
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool())
            return;
        modal->setProperty("answered", true);
        seen << modal->windowTitle() + '|' + visibleText(modal);
        const QString problem = next < acts.size() ? acts.at(next++)(modal)
                                                   : QStringLiteral("a dialog nobody expected: ") + seen.last();
        if (!problem.isEmpty()) {
            problems << problem;
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
        }
    }

    void watchProgress(Progress *progress)
    {
        const QString title = progress->ui->lblTitle->text();
        if (!title.isEmpty() && !progressTitles.contains(title))
            progressTitles << title;
        progressMax = qMax(progressMax, progress->ui->progressBar->value());
        // The picture: the dialog the furthest along that we see, engine title shown.
        const QString folder = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
        const int value = progress->ui->progressBar->value();
        if (!folder.isEmpty() && !title.isEmpty() && value > shotValue) {
            shotValue = value;
            progressShot = progress->grab().save(folder + '/' + PROGRESS_SHOT, "PNG");
        }
    }

    QList<Act> acts;
    int next = 0;
    QTimer poll;
};

// ---- the technician's acts -------------------------------------------------------------------

Technician::Act chooseSource(int index)
{
    return [index](QWidget *w) -> QString {
        auto *dialog = qobject_cast<FileSourceDialog *>(w);
        if (!dialog)
            return "expected the source dialog, got " + w->windowTitle();
        QRadioButton *choice[] = {dialog->ui->rbCd, dialog->ui->rbUsb, dialog->ui->rbNetwork};
        choice[index]->setChecked(true);
        dialog->ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        return QString();
    };
}

// Types name into the file dialog and accepts it; the dialog's title and filters must be these.
Technician::Act chooseFile(const QString &name, const QStringList &filters)
{
    return [=](QWidget *w) -> QString {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog)
            return "expected a file dialog, got " + w->windowTitle();
        if (dialog->windowTitle() != QLatin1String("Files") || dialog->nameFilters() != filters)
            return "file dialog " + dialog->windowTitle() + " with filters " + dialog->nameFilters().join(";;");
        if (name.isEmpty()) {
            dialog->reject();
            return QString();
        }
        // Typed, as a technician does (selectFile leaves a focused name field as it is).
        auto *field = dialog->findChild<QLineEdit *>("fileNameEdit");
        if (!field)
            return QStringLiteral("the file dialog has no name field");
        field->setText(name);
        static_cast<QDialog *>(dialog)->accept();   // QFileDialog's own accept checks the name
        return dialog->isVisible() ? "the file dialog refused " + name : QString();
    };
}

// Yes/OK or No/Cancel on a question or message box.
Technician::Act answer(bool accept)
{
    return [accept](QWidget *w) -> QString {
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            for (QAbstractButton *button : box->buttons()) {
                const QMessageBox::ButtonRole role = box->buttonRole(button);
                if (accept ? (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole)
                           : (role == QMessageBox::RejectRole || role == QMessageBox::NoRole)) {
                    button->click();
                    return QString();
                }
            }
            return "no such button on " + box->text();
        }
        auto *dialog = qobject_cast<ConfirmationDialog *>(w);
        if (!dialog)
            return "expected a question, got " + w->windowTitle();
        accept ? dialog->accept() : dialog->reject();
        return QString();
    };
}

// The share dialog: a path that is no share path must keep it open; then the real entries.
Technician::Act enterShare(const QString &badPath, const QString &path)
{
    return [=](QWidget *w) -> QString {
        auto *dialog = qobject_cast<NetWorkShareDialog *>(w);
        if (!dialog)
            return "expected the share dialog, got " + w->windowTitle();
        QPushButton *ok = dialog->ui->buttonBox->button(QDialogButtonBox::Ok);
        dialog->ui->lePath->setText(badPath);
        ok->click();
        if (!dialog->isVisible() || !dialog->ui->lblError->isVisible())
            return "the share dialog took " + badPath;
        dialog->ui->lePath->setText(path);
        dialog->ui->leUserName->setText("tech");
        dialog->ui->lePassword->setText(PASSWORD);
        dialog->ui->leDomain->setText("WORKGROUP");
        ok->click();
        return dialog->isVisible() ? "the share dialog refused " + path : QString();
    };
}

const QStringList RESTORE_FILTERS = {"compressed backups (*.bim)", "uncompressed backups (*.bin *.bin.000)"};

}

class TstConsoleImages : public QObject
{
    Q_OBJECT

    std::unique_ptr<VirtualDrive> unit, target, stick;
    QMap<QString, QString> unitFiles;
    QString root;

    static QMap<QString, QString> fileHashes(const QString &dir)
    {
        QMap<QString, QString> hashes;
        QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains("System Volume Information") && !path.contains("$RECYCLE"))
                hashes.insert(path.mid(dir.size()), md5Of(path));
        }
        return hashes;
    }

    // The files of the drive's NTFS partition, wherever a deploy put it.
    static QMap<QString, QString> ntfsFiles(VirtualDrive &drive)
    {
        for (int n = 1; n <= 4; ++n) {
            if (sh("blkid -p -o value -s TYPE " + drive.partition(n)).trimmed() != QLatin1String("ntfs"))
                continue;
            if (!drive.mount(n, "ntfs", "/mnt/check"))
                return {{"<mount failed>", drive.partition(n)}};
            const QMap<QString, QString> hashes = fileHashes("/mnt/check");
            VirtualDrive::unmount("/mnt/check");
            return hashes;
        }
        return {{"<no NTFS partition>", drive.device()}};
    }

    void mountStick(bool mounted)
    {
        const QString partition = stick->partition(1);
        sh("umount /mnt/usb 2>/dev/null");
        if (mounted)
            QVERIFY(Sandbox::sh("mkdir -p /mnt/usb && mount " + partition + " /mnt/usb").exitCode == 0);
    }

    // A fresh console window, started with this kernel command line.
    static std::unique_ptr<PxeClient> startConsole(const QString &commandLine)
    {
        if (!setKernelCommandLine(commandLine))
            return nullptr;
        auto window = std::make_unique<PxeClient>();
        window->show();
        return window;
    }

    // The clone set w10.bim on the stick (mounted at /mnt/usb), as resizeOnBackupClones makes it
    // through the window; a case run without that one before it makes the set here.
    void cloneSetOnStick()
    {
        mountStick(true);
        if (QFile::exists("/mnt/usb/w10.bim.sums"))
            return;
        QVERIFY(unit->setAsSystemDrive());
        const Sandbox::Result made = Sandbox::run("vaultine", {"-c", "bim", "/mnt/usb/w10.bim"}, {}, {}, 600000);
        QVERIFY2(made.exitCode == 0, made.out.right(2000).constData());
        QVERIFY(QFile::exists("/mnt/usb/w10.bim.sums"));
    }

    // Presses a row and plays the technician's part until the row's flow has ended.
    static void press(QPushButton *row, Technician &technician)
    {
        row->click();
        QVERIFY2(technician.problems.isEmpty(), qPrintable(technician.problems.join('\n') + "\nseen:\n" + technician.seen.join('\n')));
        QVERIFY2(technician.finished(), qPrintable("dialogs seen:\n" + technician.seen.join('\n')));
        technician.stop();
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        root = Sandbox::root();
        Utils::InitLogger(2);   // as the program's entry does: the main log takes level-2 lines
        writeStyleSheet(12);
        writeVersion("Brenlow production v5.01.0001.0002");
        // The unit: a Windows drive (NTFS data with files, and a recovery partition of random bytes).
        unit = std::make_unique<VirtualDrive>("unit", "128M");
        QVERIFY(unit->makeDos("label: dos\nstart=2048, size=180224, type=7, bootable\ntype=27\n"));
        QVERIFY(unit->makeFileSystem(1, "ntfs", "Windows"));
        QVERIFY(unit->mount(1, "ntfs", "/mnt/fill"));
        sh("mkdir -p '/mnt/fill/Users/Tech Name' && head -c 3M /dev/urandom > '/mnt/fill/Users/Tech Name/report.bin' && "
           "seq 1 100000 > /mnt/fill/numbers.txt");
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        sh("head -c 4M /dev/urandom | dd of=" + unit->partition(2) + " conv=notrunc 2>/dev/null");
        unitFiles = ntfsFiles(*unit);
        QCOMPARE(unitFiles.size(), 2);
        target = std::make_unique<VirtualDrive>("target", "128M");
        QVERIFY(target->isValid());

        // The stick: one ext4 partition, seen as USB through the test's own /sys/class/block.
        stick = std::make_unique<VirtualDrive>("stick", "600M");
        QVERIFY(stick->makeDos("label: dos\ntype=83\n"));
        QVERIFY(stick->makeFileSystem(1, "ext4"));
        QVERIFY(showAsUsbPartitions({stick->partition(1)}));

        // The unit's reboot, and a network share: a tmpfs under the share's name holding the
        // share folder; the double notes how it was called and what the credentials file held.
        Sandbox::writeDouble("reboot", "#!/bin/sh\necho reboot >> " + root + "/reboot-calls\n");
        Sandbox::writeDouble("get_pxeswitch.sh", "#!/bin/sh\necho 'state: unknown'\necho 'pxe: disabled'\nexit 1\n");
        QDir().mkpath(root + "/share");
        Sandbox::writeDouble("mount", "#!/bin/bash\n"
            "[ \"$1\" = -t ] && [ \"$2\" = cifs ] || exec /usr/bin/mount \"$@\"\n"
            "printf '%s\\n' \"$*\" >> " + root + "/cifs-argv\n"
            "cred=${6#*credentials=}; cred=${cred%%,*}\n"
            "stat -c '%a %U' \"$cred\" >> " + root + "/cifs-credentials-mode\n"
            "cat \"$cred\" >> " + root + "/cifs-credentials\n"
            "case \"$3\" in //fileserver/*) ;; *) echo 'mount error(2): No such file or directory' >&2; exit 32 ;; esac\n"
            "/usr/bin/mount -t tmpfs -o size=700m \"$3\" \"$4\" && cp -a " + root + "/share/. \"$4\"/\n");
    }

    void init()
    {
        QVERIFY(unit->setAsSystemDrive());
        DiskHandler::_forceClone = false;
        QFile::remove("/tmp/forceClone");
    }

    // Backup to a USB stick with the name typed without ".bim", and with a blank in it.
    void backupToUsbStick()
    {
        mountStick(false);
        auto console = startConsole("quiet");
        QVERIFY(console);
        Technician technician({chooseSource(FileSourceDialog::Usb), chooseFile("site 1", {"compressed (*.bim)"}),
                               answer(true), answer(true)});
        press(console->ui->pbCompressedBackup, technician);

        QCOMPARE(technician.seen.value(0), QString("Select Backup Destination|"));
        QCOMPARE(technician.seen.value(2), QString("Confirmation| Are you sure you want to backup to site 1.bim"));
        QCOMPARE(technician.seen.value(3), QString("Success|Image Backup Successful."));
        QCOMPARE(engineCommandLine(), QString("-b bim /mnt/usb/site 1.bim"));
        // The set, checked against md5sum, and the engine's gauge in the progress dialog.
        const QStringList set = QDir("/mnt/usb").entryList({"site 1.bim*"}, QDir::Files, QDir::Name);
        QCOMPARE(set, QStringList({"site 1.bim", "site 1.bim.p1.000", "site 1.bim.p2", "site 1.bim.sums", "site 1.bim.txt"}));
        QString sums;
        for (const QString &member : {"site 1.bim", "site 1.bim.p1.000", "site 1.bim.p2"})
            sums += md5Of("/mnt/usb/" + member) + " : " + member + "\n";
        QCOMPARE(QString::fromLatin1(Sandbox::readFile("/mnt/usb/site 1.bim.sums")), sums);
        QVERIFY2(technician.progressTitles.contains("Backing up partition 1"), qPrintable(technician.progressTitles.join(',')));
        QVERIFY(technician.progressMax > 0);
        if (!qEnvironmentVariableIsEmpty("BRENLOW_SCREENSHOTS"))
            QVERIFY(technician.progressShot);
        QVERIFY(console->ui->frmMenu->isEnabled());
        QVERIFY(!console->isBusy);
    }

    // A name holding arg() markers, blanks, a quote, a command substitution and backticks
    // reaches the engine as it was typed, names every member, and runs nothing. (A double quote
    // is no file name character here: the file dialog reads it as quoting several names, and a
    // FAT stick cannot hold it; the engine's own round trip covers it.)
    void backupRowWithHostileName()
    {
        const QString name = QStringLiteral("site %1 %2 'a' $(touch made1) `touch made2`");
        mountStick(false);
        auto console = startConsole("quiet");
        QVERIFY(console);
        Technician technician({chooseSource(FileSourceDialog::Usb), chooseFile(name, {"compressed (*.bim)"}),
                               answer(true), answer(true)});
        press(console->ui->pbCompressedBackup, technician);
        QCOMPARE(technician.seen.value(2), QString("Confirmation| Are you sure you want to backup to " + name + ".bim"));
        QCOMPARE(technician.seen.value(3), QString("Success|Image Backup Successful."));
        QCOMPARE(engineCommandLine(), QString("-b bim /mnt/usb/" + name + ".bim"));
        const QStringList set = QDir("/mnt/usb").entryList({"site %1 *"}, QDir::Files, QDir::Name);
        QCOMPARE(set, QStringList({name + ".bim", name + ".bim.p1.000", name + ".bim.p2", name + ".bim.sums", name + ".bim.txt"}));
        QCOMPARE(sh("find / -xdev \\( -name made1 -o -name made2 \\) 2>/dev/null"), QString());
        sh("rm -f /mnt/usb/site\\ %1*");
    }

    // "resize-on-backup" turns the plain Backup row into a clone.
    void resizeOnBackupClones()
    {
        auto console = startConsole("quiet resize-on-backup");
        QVERIFY(console);
        QVERIFY(DiskHandler::_forceClone);
        QCOMPARE(Sandbox::readFile("/tmp/forceClone"), QByteArray("1\n"));
        Technician technician({chooseSource(FileSourceDialog::Usb), chooseFile("w10", {"compressed (*.bim)"}),
                               answer(true), answer(true)});
        press(console->ui->pbCompressedBackup, technician);
        QCOMPARE(technician.seen.value(3), QString("Success|Image Backup Successful."));
        QCOMPARE(engineCommandLine(), QString("-c bim /mnt/usb/w10.bim"));
        QVERIFY(QFile::exists("/mnt/usb/w10.bim.sums"));
    }

    // A raw backup named after its first piece: the set is old.bin, and the question warns of
    // the earlier set whose piece old.bin.001 is on the stick.
    void rawBackupNamedAsFirstPiece()
    {
        mountStick(true);
        Sandbox::writeFile("/mnt/usb/old.bin.001", "earlier set");
        auto console = startConsole("quiet");
        QVERIFY(console);
        QVERIFY(console->ui->frmBinBkup->isVisible());
        Technician technician({answer(true), chooseSource(FileSourceDialog::Usb),
                               chooseFile("old.bin.000", {"uncompressed (*.bin *.bin.000)"}), answer(true), answer(true)});
        press(console->ui->pbBinaryBackup, technician);
        QVERIFY(technician.seen.value(0).contains("Binary Backup has been deprecated and should NOT be used."));
        QCOMPARE(technician.seen.value(3), QString("Confirmation|There is already a backup with the name old.bin\n"
                                                   " Are you sure you want to backup to old.bin"));
        QCOMPARE(technician.seen.value(4), QString("Success|Image Backup Successful."));
        QCOMPARE(engineCommandLine(), QString("-b bin /mnt/usb/old.bin"));
        // A drive of at most 1 GiB is copied whole into the set's main member.
        QCOMPARE(md5Of("/mnt/usb/old.bin"), md5Of(unit->device()));
        QVERIFY(!QFile::exists("/mnt/usb/old.bin.000.bin"));
    }

    // Deploy from a share typed with backslashes: mounted with a root-only credentials file,
    // the password in no log and on no command line; then the share is offered again, and a
    // share that fails to mount is reported.
    void deployFromShare()
    {
        cloneSetOnStick();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(Sandbox::sh("cp /mnt/usb/w10.bim* " + root + "/share/").exitCode == 0);
        QVERIFY(target->setAsSystemDrive());
        auto console = startConsole("quiet");
        QVERIFY(console);
        Technician technician({chooseSource(FileSourceDialog::Network), enterShare("-o remount", "\\\\fileserver\\images"),
                               chooseFile("w10.bim", RESTORE_FILTERS), answer(true), answer(true)});
        press(console->ui->pbDeployImage, technician);
        QCOMPARE(technician.seen.value(0), QString("Select Image Source|"));
        QCOMPARE(technician.seen.value(3), QString("Confirmation|Are you sure you want to deploy w10.bim"));
        QCOMPARE(technician.seen.value(4), QString("Success|Image Restore Successful."));
        QCOMPARE(engineCommandLine(), QString("-d bim /mnt/smb/w10.bim"));
        QCOMPARE(ntfsFiles(*target), unitFiles);

        const QString argv = QString::fromLatin1(Sandbox::readFile(root + "/cifs-argv"));
        QVERIFY2(argv.startsWith("-t cifs //fileserver/images /mnt/smb -o rw,credentials=/tmp/"), qPrintable(argv));
        QCOMPARE(Sandbox::readFile(root + "/cifs-credentials-mode"), QByteArray("600 root\n"));
        QVERIFY(Sandbox::readFile(root + "/cifs-credentials").contains(("password=" + PASSWORD + "\n").toUtf8()));
        QCOMPARE(sh("ls -a /tmp | grep -c smb-credentials").trimmed(), QString("0"));
        QVERIFY(mainLog().contains("-t cifs //fileserver/images /mnt/smb -o rw,credentials=/tmp/"));
        for (const QString &log : QStringList{"/var/log/pxe_client.log", "/tmp/pxe-gui.log", "/tmp/client_progress.log", root + "/cifs-argv"})
            QVERIFY2(!Sandbox::readFile(log).contains(PASSWORD.toUtf8()), qPrintable(log));

        // The mounted share is offered again; choosing no file runs nothing.
        QFile::remove("/var/log/vtl_debug.log");
        Technician again({chooseSource(FileSourceDialog::Network), answer(true), chooseFile(QString(), RESTORE_FILTERS)});
        press(console->ui->pbRestore, again);
        QVERIFY(again.seen.value(1).endsWith("A network drive mapping already exists for //fileserver/images.\n"
                                             " Select \"Yes\" reuse it, or \"No\" to connect to a new network drive."));
        QVERIFY(!QFile::exists("/var/log/vtl_debug.log"));

        // Declined: the share is disconnected, and a share that cannot be mounted is reported.
        Technician other({chooseSource(FileSourceDialog::Network), answer(false), enterShare("C:\\images", "//otherserver/x"),
                          answer(true)});
        press(console->ui->pbDeployImage, other);
        QCOMPARE(other.seen.value(3), QString("Could Not Mount Network Share|Failed to mount the specified share"));
        QVERIFY(!QFile::exists("/var/log/vtl_debug.log"));
        QVERIFY(!DiskHandler::GetInstance()->isSmbMounted());
    }

    // "auto-restore-reboot": the one set in /images on the stick is deployed at start-up, and
    // the unit reboots without a question.
    void automaticRestoreReboots()
    {
        cloneSetOnStick();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(Sandbox::sh("mkdir -p /mnt/usb/images && cp /mnt/usb/w10.bim* /mnt/usb/images/").exitCode == 0);
        mountStick(false);
        QVERIFY(target->setAsSystemDrive());
        sh("dd if=/dev/zero of=" + target->device() + " bs=1M count=128 conv=fsync 2>/dev/null");
        QFile::remove(root + "/reboot-calls");
        Technician nobody({});
        auto console = startConsole("quiet auto-restore-reboot");
        QVERIFY(console);
        QVERIFY(waitFor([&]() { return QFile::exists(root + "/reboot-calls"); }, 400000));
        QCOMPARE(Sandbox::readFile(root + "/reboot-calls"), QByteArray("reboot\n"));
        QVERIFY2(nobody.seen.isEmpty(), qPrintable(nobody.seen.join('\n')));
        QCOMPARE(engineCommandLine(), QString("-d bim /mnt/usb/images/w10.bim"));
        QVERIFY2(mainLog().contains("Restore Done 0 \n"), qPrintable(mainLog().right(3000)));
        QCOMPARE(ntfsFiles(*target), unitFiles);
    }

    // Two sets in /images: the automatic restore runs nothing and says why.
    void automaticRestoreStopsOnTwoSets()
    {
        mountStick(true);
        // Two sets of its own, whatever an earlier case left in /images.
        QVERIFY(QDir().mkpath("/mnt/usb/images"));
        Sandbox::writeFile("/mnt/usb/images/first.bim", "a first set");
        Sandbox::writeFile("/mnt/usb/images/other.bin", "a second set");
        mountStick(false);
        QFile::remove("/var/log/vtl_debug.log");
        QFile::remove(root + "/reboot-calls");
        Technician nobody({});
        auto console = startConsole("auto-restore");
        QVERIFY(console);
        QVERIFY(waitFor([]() { return mainLog().contains("No backup files found on USB drive. Aborting USB restore"); }, 60000));
        QVERIFY(mainLog().contains("mountPath =  /mnt/usb path =  /mnt/usb/images \n"));
        waitFor([]() { return false; }, 1000);
        QVERIFY(!QFile::exists("/var/log/vtl_debug.log"));
        QVERIFY(!QFile::exists(root + "/reboot-calls"));
        QVERIFY2(nobody.seen.isEmpty(), qPrintable(nobody.seen.join('\n')));
    }

    // No stick at all: the automatic restore tells so and looks nowhere else for images.
    void automaticRestoreWithoutStick()
    {
        mountStick(false);
        QVERIFY(showAsUsbPartitions({}));
        QFile::remove("/var/log/vtl_debug.log");
        Technician technician({answer(true)});
        auto console = startConsole("auto-restore");
        QVERIFY(console);
        QVERIFY(waitFor([]() { return mainLog().contains("No USB drive mounted. Aborting USB restore"); }, 60000));
        QCOMPARE(technician.seen, QStringList{"Could Not Mount USB Drive|Failed to mount the USB Drive"});
        QVERIFY(!mainLog().contains("path  /images "));
        QVERIFY(!QFile::exists("/var/log/vtl_debug.log"));
    }

    void cleanupTestCase()
    {
        sh("umount /mnt/usb /mnt/smb /sys/class/block 2>/dev/null");
    }
};

QTEST_MAIN(TstConsoleImages)
#include "tst_consoleimages.moc"
