// The main window as a technician and a management server meet it: start options from the
// kernel command line, screen area and font size, /etc/version, the rows shown, the manager
// dialog driven by /tmp/mgr_ctl, font and exit requests from key events with their native scan
// codes and masks, Exit/Reboot. The window is the real one, in the sandbox; only reboot, uname
// and the LAN boot state script are doubles. A second part runs the console program itself on
// Xvfb: the font chosen from the screen's physical size, and the remote-view instance closed
// with a real Ctrl+Alt+Delete.

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "consolefixture.h"
#include "dialogdriver.h"
#include "waitloop.h"
#include "diskhandler.h"
#include "logindialog.h"
#include "managercontroldialog.h"
#include "networkhandler.h"
#include "progress.h"
#include "pxeclient.h"
#include "sandbox.h"
#include "serverhandler.h"
#include "ui_managercontroldialog.h"
#include "ui_pxeclient.h"
#include "utils.h"
#include "virtualdrive.h"

using namespace ConsoleFixture;

// X11 masks: Shift 1, Control 4, Mod1 (Alt) 8, Mod2 (NumLock) 16.
static const quint32 X_SHIFT_CTRL_ALT_NUMLOCK = 29;

class TestPxeClient : public QObject
{
    Q_OBJECT

private:
    // Any question the window asks while it starts (an automatic job finding nothing to do) is
    // answered with Cancel, so that construction never waits for a person.
    static PxeClient *newWindow()
    {
        QTimer dismiss;
        QObject::connect(&dismiss, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
        });
        dismiss.start(100);
        auto *window = new PxeClient;
        window->show();
        return window;
    }
    static void key(QWidget *window, int code, Qt::KeyboardModifiers modifiers, quint32 scanCode, quint32 nativeMask,
                    const QString &text = QString())
    {
        QKeyEvent press(QEvent::KeyPress, code, modifiers, scanCode, 0, nativeMask, text);
        QApplication::sendEvent(window, &press);
    }
    static QString recorded(const QString &name)
    {
        return QString::fromLatin1(Sandbox::readFile(Sandbox::root() + "/" + name + ".calls"));
    }
    static void recordingDouble(const QString &name, const QString &output = QString())
    {
        Sandbox::writeDouble(name, QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1/%2.calls'\n%3\n")
                                       .arg(Sandbox::root(), name, output));
    }
    // Starts the console program on a private Xvfb display; returns the display's process.
    static bool startXvfb(QProcess &xvfb, const QString &display, int dpi)
    {
        xvfb.start("Xvfb", {display, "-screen", "0", "1280x1024x24", "-dpi", QString::number(dpi), "-nolisten", "tcp"});
        return xvfb.waitForStarted(10000)
               && waitFor([&] { return QFile::exists("/tmp/.X11-unix/X" + display.mid(1)); }, 20000);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Utils::InitLogger(2);   // as the program's entry does
        writeStyleSheet(16);
        recordingDouble("reboot");
        Sandbox::writeDouble("get_pxeswitch.sh", "#!/bin/sh\necho 'PXE boot'\necho enabled\n");
        // No system drive in this test: the drive rows are tested with real drives elsewhere.
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
    }

    void init()
    {
        for (const char *path : {"/tmp/mgr_ctl", "/tmp/mgr-requested-install", "/tmp/stop-qt", "/tmp/resolution", "/tmp/forceClone", "/tmp/.nosums",
                                 "/etc/version", "/var/log/pxe_client.log"})
            QFile::remove(path);
        DiskHandler::_forceClone = false;
        qunsetenv("IMAGE_CODEC");
        setKernelCommandLine("quiet");
    }

    void startOptions_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("expected");   // the members set, in table order
        QTest::addColumn<QByteArray>("forceClone");
        QTest::addColumn<QByteArray>("noSums");
        QTest::addColumn<QByteArray>("imageCodec");   // what the engine finds in IMAGE_CODEC
        QTest::newRow("restore with reboot, resize") << "quiet auto-restore-reboot resize-on-backup"
                                                     << "autoRestoreReboot resizeOnBackup" << QByteArray("1\n") << QByteArray() << QByteArray();
        QTest::newRow("install, debug, no sums, zstd") << "BOOT_IMAGE=x auto-install qtdebug  no-sums zstd-images"
                                                       << "debugMode autoInstall" << QByteArray() << QByteArray("1") << QByteArray("zstd");
        QTest::newRow("whole words, case counts") << "auto-restored Auto-install resize-on-backup=1 zstd-images=1 Zstd-images"
                                                  << "" << QByteArray() << QByteArray() << QByteArray();
    }

    void startOptions()
    {
        QFETCH(QString, commandLine);
        QVERIFY(setKernelCommandLine(commandLine));
        QScopedPointer<PxeClient> window(newWindow());
        QStringList set;
        const QList<QPair<const char *, bool>> members = {
            {"debugMode", window->debugMode}, {"autoInstall", window->autoInstall},
            {"autoInstallReboot", window->autoInstallReboot}, {"autoRestore", window->autoRestore},
            {"autoRestoreReboot", window->autoRestoreReboot}, {"resizeOnBackup", window->resizeOnBackup}};
        for (const auto &member : members)
            if (member.second)
                set << member.first;
        QTEST(set.join(' '), "expected");
        QTEST(Sandbox::readFile("/tmp/forceClone"), "forceClone");
        QTEST(Sandbox::readFile("/tmp/.nosums"), "noSums");
        QFETCH(QByteArray, forceClone);
        QCOMPARE(DiskHandler::_forceClone, !forceClone.isEmpty());
        QCOMPARE(qgetenv("GUI_TYPE"), QByteArray("Q"));
        // The engine as the console starts it (a double that notes its environment).
        Sandbox::writeDouble("vaultine", QStringLiteral("#!/bin/sh\necho \"${IMAGE_CODEC-unset} $*\" > '%1/engine-env'\n").arg(Sandbox::root()));
        Progress dialog("/mnt/usb/x.bim");
        QCOMPARE(Utils::GetInstance()->ExecuteProgressShell("vaultine", {"-b", "bim", "/mnt/usb/x.bim"}, &dialog, false), 0);
        QFile::remove(Sandbox::doublesDir() + "/vaultine");
        QFETCH(QByteArray, imageCodec);
        QCOMPARE(Sandbox::readFile(Sandbox::root() + "/engine-env"),
                 (imageCodec.isEmpty() ? QByteArray("unset") : imageCodec) + " -b bim /mnt/usb/x.bim\n");
        QVERIFY2(mainLog().contains(QStringLiteral("Input Options %1 \n").arg(commandLine.split(QLatin1Char(' ')).join(", "))), qPrintable(mainLog()));
    }

    void screenArea_data()
    {
        QTest::addColumn<QByteArray>("resolution");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("client");
        QTest::addColumn<int>("font");
        // The offscreen screen is 800 x 600 and 152 mm high; 1280 is above 1023, so the height
        // decides (152 mm: 12 points).
        QTest::newRow("clamped") << QByteArray("1280 x 1024") << QRect(0, 0, 1024, 768)
                                 << QRect(QPoint(25, 25), QPoint(998, 742)) << 12;
        QTest::newRow("800 x 600") << QByteArray("800 x 600\n") << QRect(0, 0, 800, 600)
                                   << QRect(QPoint(25, 25), QPoint(774, 574)) << 10;
        QTest::newRow("1000 wide") << QByteArray("1000 x 700") << QRect(0, 0, 1000, 700)
                                   << QRect(QPoint(25, 25), QPoint(974, 674)) << 12;
        QTest::newRow("malformed: the screen") << QByteArray("1280x") << QRect(0, 0, 800, 600)
                                               << QRect(QPoint(25, 25), QPoint(774, 574)) << 10;
    }

    void screenArea()
    {
        QFETCH(QByteArray, resolution);
        Sandbox::writeFile("/tmp/resolution", resolution);
        QScopedPointer<PxeClient> window(newWindow());
        QTEST(window->screenRect, "screen");
        QTEST(window->clientRect, "client");
        QTEST(window->fontSize, "font");
        QFETCH(int, font);
        QVERIFY(Sandbox::readFile("/root/.config/default.css").contains(QStringLiteral("font: 63 %1pt").arg(font).toLatin1()));
    }

    void versionAndRows_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("versionLabel");
        QTest::addColumn<bool>("production");
        QTest::newRow("production") << "Brenlow Service production v5.12.0100.0042" << "Brenlow Service production"
                                    << "v5.12.0100.0042" << true;
        QTest::newRow("field") << "Brenlow Service v5.12.0100.0042" << "Brenlow Service" << "v5.12.0100.0042" << false;
        QTest::newRow("no version word") << "Brenlow Service Production 5.12" << "Brenlow" << "v5.xx.xxxx.xxxx" << true;
        QTest::newRow("no file") << "" << "Brenlow" << "v5.xx.xxxx.xxxx" << false;
    }

    void versionAndRows()
    {
        QFETCH(QString, version);
        QFETCH(bool, production);
        if (!version.isEmpty())
            writeVersion(version);
        QScopedPointer<PxeClient> window(newWindow());
        Ui::PxeClient *ui = window->ui;
        QTEST(ui->lblTitle->text(), "title");
        QTEST(ui->lblVersion->text(), "versionLabel");
        QCOMPARE(window->productionMode, production);
        for (QWidget *row : {(QWidget *)ui->frmInstImg, (QWidget *)ui->frmServerIp, (QWidget *)ui->frmBinBkup,
                             (QWidget *)ui->frmTestProgram, (QWidget *)ui->lblInfo1, (QWidget *)ui->lblInfo2})
            QVERIFY2(row->isHidden() != production, qPrintable(row->objectName()));
        for (QWidget *row : {(QWidget *)ui->frmInstPkg, (QWidget *)ui->frmChgPart, (QWidget *)ui->frmRestPartTbl,
                             (QWidget *)ui->lblMonitorInfo})
            QVERIFY2(row->isHidden(), qPrintable(row->objectName()));
        for (QWidget *row : {(QWidget *)ui->frmQTerm, (QWidget *)ui->frmWipe, (QWidget *)ui->frmPxeSetting})
            QVERIFY2(!row->isHidden(), qPrintable(row->objectName()));
        QCOMPARE(ui->lblSizeVer->text(), QStringLiteral("GUI Version: 1.0.0.6"));
        if (production)
            QCOMPARE(ui->lblInfo2->text(), QStringLiteral("Active Drive: unknown"));
    }

    // The rows, top to bottom, as people and scripts know them.
    void menuRows()
    {
        QScopedPointer<PxeClient> window(newWindow());
        const QStringList expected = {
            "frmWipe pbWipeDrive Wipe Drive", "frmInstImg pbInstallImage Install Image",
            "frmCmpBkup pbCompressedBackup Backup", "frmBinBkup pbBinaryBackup Binary Backup",
            "frmRestoreImg pbRestore Restore Image", "frmCompressNtfsPartition pbCloneImage Clone Windows",
            "frmExpandNtfsPartition pbDeployImage Deploy Windows", "frmUmntUsb pbUnmountUsb Unmount USB Drive",
            "frmSysInfo pbSysInfo System Information", "frmInstFromUsb pbInstallFromUsb Install From USB",
            "frmServerIp pbProdServerIP Production Server IP", "frmBootType pbBootType UEFI/Legacy Boot",
            "frmPxeSetting pbPxeBoot PXE Boot", "frmChgPart pbChgPartition Change Partitioning",
            "frmInstPkg pbInstallPkg Install Package", "frmRestPartTbl pbRestorePartTbl Restore Partition Table",
            "frmTestProgram pbVaultine Advanced Tool", "frmQTerm pbQterm Terminal"};
        QStringList rows;
        QLayout *menu = window->ui->frmMenu->layout();
        for (int i = 0; i < menu->count(); ++i) {
            QWidget *row = menu->itemAt(i)->widget();
            auto *button = row->findChild<QPushButton *>();
            rows << row->objectName() + ' ' + button->objectName() + ' ' + button->text();
        }
        QCOMPARE(rows, expected);
        QCOMPARE(window->ui->lblWipeDrive->text(), QStringLiteral("Wipe all information from Drive (Recommended for masters)"));
        QVERIFY(window->ui->pbCloneImage->toolTip().startsWith(QLatin1String("This will:")));
        QVERIFY(window->ui->pbDeployImage->toolTip().startsWith(QLatin1String("This will:")));
    }

    // /tmp/mgr_ctl hides the menu within about a second and shows the engine's task and status;
    // removing it brings the menu back. A FIFO left as a status file must not hang the console.
    void managerControl()
    {
        QScopedPointer<PxeClient> window(newWindow());
        Sandbox::writeFile("/var/log/rcv_status", "Restoring partition 2\n");
        QCOMPARE(Sandbox::sh("rm -f /var/log/rcv_task; mkfifo /var/log/rcv_task").exitCode, 0);
        Sandbox::writeFile("/tmp/mgr_ctl", "");
        QVERIFY(waitFor([&] { return window->managerDialog && window->ui->frmMenu->isHidden(); }, 5000));
        QVERIFY(window->isBusy);
        QCOMPARE(window->managerDialog->ui->lblStatus->text(), QStringLiteral("Restoring partition 2\n"));
        QCOMPARE(window->managerDialog->ui->lblTask->text(), QString());
        // The engine rewrites its files in place; a task file replacing the FIFO shows too.
        Sandbox::writeFile("/var/log/rcv_status", "Completed successfully\n");
        QVERIFY(waitFor([&] { return window->managerDialog->ui->lblStatus->text() == "Completed successfully\n"; }, 5000));
        QCOMPARE(Sandbox::sh("rm -f /var/log/rcv_task; echo 'Compressed image restore' > /var/log/rcv_task").exitCode, 0);
        QVERIFY(waitFor([&] { return window->managerDialog->ui->lblTask->text() == "Compressed image restore\n"; }, 5000));
        QFile::remove("/tmp/mgr_ctl");
        QVERIFY(waitFor([&] { return !window->managerDialog && !window->ui->frmMenu->isHidden(); }, 5000));
        QVERIFY(!window->isBusy);
    }

    // A management server hands over its install request and ends its control in one tick: the
    // manager dialog closes, the request is taken once (no system drive here, so the install
    // answers -4 at once), and the menu comes back.
    void managementRequestEndsControl()
    {
        QScopedPointer<PxeClient> window(newWindow());
        Sandbox::writeFile("/tmp/mgr_ctl", "");
        QVERIFY(waitFor([&] { return window->managerDialog && window->ui->frmMenu->isHidden(); }, 5000));
        Sandbox::writeFile("/tmp/mgr-requested-install", "LYX-64X 16.4.0\n");
        QFile::remove("/tmp/mgr_ctl");
        QVERIFY2(waitFor([] { return mainLog().contains("Install of  LYX-64X   16.4.0  returned -4 "); }, 10000), qPrintable(mainLog().right(1500)));
        QVERIFY(!QFile::exists("/tmp/mgr-requested-install"));
        QVERIFY(waitFor([&] { return !window->managerDialog && !window->ui->frmMenu->isHidden(); }, 5000));
        QVERIFY(!window->isBusy);
        QTest::qWait(1500);
        QCOMPARE(mainLog().count("Web request to install image has been received"), 1);
    }

    // Manager control wins over whatever else is open: the terminal's login asked for by the
    // service keys (opened by the timer) does not stop the timer from hiding the menu, and the
    // menu stays hidden when the login ends while /tmp/mgr_ctl is there.
    void managerControlWinsOverAnOpenTerminal()
    {
        QScopedPointer<PxeClient> window(newWindow());
        bool hiddenWhileLoginOpen = false;
        QString opened;
        DialogDriver driver({[&](QWidget *login) {
            opened = QString::fromLatin1(login->metaObject()->className());
            Sandbox::writeFile("/tmp/mgr_ctl", "");
            hiddenWhileLoginOpen = waitFor([&] { return window->managerDialog && window->ui->frmMenu->isHidden(); }, 5000);
            static_cast<QDialog *>(login)->reject();
        }}, 30000);
        key(window.data(), Qt::Key_ParenRight, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 19,
            X_SHIFT_CTRL_ALT_NUMLOCK, ")");
        QVERIFY(waitFor([&] { return driver.taken() == 1 && !QApplication::activeModalWidget(); }, 20000));
        QCOMPARE(opened, QString("LoginDialog"));
        QVERIFY(hiddenWhileLoginOpen);
        QTest::qWait(1200);
        QVERIFY(window->ui->frmMenu->isHidden());
        QVERIFY(window->isBusy);
        QFile::remove("/tmp/mgr_ctl");
        QVERIFY(waitFor([&] { return !window->managerDialog && !window->ui->frmMenu->isHidden(); }, 5000));
    }

    // Requests wait for the console's top: the automatic install at start-up runs first, and a
    // management install written while its box is open follows it (no drive: -4 at once).
    void managementRequestAfterTheAutomaticInstall()
    {
        QVERIFY(setKernelCommandLine("quiet auto-install"));
        Sandbox::writeFile("/tmp/mgr-requested-install", "LYX-64X 16.4.0\n");
        QString box;
        DialogDriver driver({[&](QWidget *dialog) {
            box = dialog->windowTitle();
            QTimer::singleShot(1500, dialog, [dialog] { static_cast<QDialog *>(dialog)->reject(); });
        }}, 30000);
        QScopedPointer<PxeClient> window(new PxeClient);
        window->show();
        QVERIFY2(waitFor([] { return mainLog().contains("Install of  LYX-64X   16.4.0  returned -4 "); }, 10000),
                 qPrintable(mainLog().right(1500)));
        QCOMPARE(box, QString("Could Not Mount USB Drive or CDROM"));
        QVERIFY(mainLog().indexOf("AutoInstallFirmware complete") < mainLog().indexOf("Web request to install image has been received"));
    }

    // The terminal asked for during a progress run opens once the run has returned.
    void terminalRequestWaitsForTheRun()
    {
        QScopedPointer<PxeClient> window(newWindow());
        bool runReturned = false, returnedFirst = false;
        DialogDriver driver({[&](QWidget *login) {
            returnedFirst = runReturned;
            static_cast<QDialog *>(login)->reject();
        }}, 30000);
        QTimer::singleShot(300, [&] {
            key(window.data(), Qt::Key_ParenRight, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 19,
                X_SHIFT_CTRL_ALT_NUMLOCK, ")");
        });
        window->on_pbRestorePartTbl_clicked();   // 1.5 s of progress
        runReturned = true;
        QVERIFY(waitFor([&] { return driver.taken() == 1 && !QApplication::activeModalWidget(); }, 10000));
        QVERIFY(returnedFirst);
    }

    // System Information and Terminal pressed while another window's wait runs (the test
    // bench's engine run keeps the menu usable) open only after that wait, in the order pressed.
    void serviceWindowsWaitForTheRunningWait()
    {
        QScopedPointer<PxeClient> window(newWindow());
        bool waitEnded = false;
        QList<bool> openedAfterTheWait;
        DialogDriver driver({[&](QWidget *info) {
                                 openedAfterTheWait << waitEnded;
                                 static_cast<QDialog *>(info)->reject();
                             },
                             [&](QWidget *login) {
                                 openedAfterTheWait << waitEnded;
                                 static_cast<QDialog *>(login)->reject();
                             }},
                            30000);
        QTimer::singleShot(200, [&] {
            window->ui->pbSysInfo->click();
            window->ui->pbQterm->click();
        });
        WaitLoop benchRun;
        QTimer::singleShot(2500, &benchRun, &WaitLoop::Finish);
        benchRun.Wait(10000);
        waitEnded = true;
        QVERIFY(waitFor([&] { return driver.taken() == 2 && !QApplication::activeModalWidget(); }, 10000));
        QCOMPARE(openedAfterTheWait, (QList<bool>{true, true}));
        QCOMPARE(driver.seen, (QStringList{"SystemInfo", "LoginDialog"}));
    }

    // Wipe Drive is one job from its question on: a management install written while the
    // question is open runs after the wipe; a management server taking the unit while the
    // question is open refuses the wipe, whatever the technician answers.
    void wipeQuestionHoldsTheDrive()
    {
        VirtualDrive unit("wipe", "16M");
        QVERIFY(unit.setAsSystemDrive());
        const QString fill = "head -c 1M /dev/urandom > " + unit.device();
        const QString zeroed = "cmp -s -n 1048576 " + unit.device() + " /dev/zero";
        QCOMPARE(Sandbox::sh(fill).exitCode, 0);
        QScopedPointer<PxeClient> window(newWindow());
        DialogDriver install({[&](QWidget *question) {
            Sandbox::writeFile("/tmp/mgr-requested-install", "LYX-64X 7.1.0\n");
            waitFor([] { return false; }, 1500);
            static_cast<QDialog *>(question)->accept();
        }}, 60000);
        window->ui->pbWipeDrive->click();
        QVERIFY2(waitFor([] { return mainLog().contains("Install of  LYX-64X   7.1.0  returned"); }, 20000), qPrintable(mainLog().right(1500)));
        QVERIFY2(mainLog().indexOf("WipeHardDrive zblit") < mainLog().indexOf("Web request to install image has been received"),
                 qPrintable(mainLog().right(1500)));
        QCOMPARE(Sandbox::sh(zeroed).exitCode, 0);

        QCOMPARE(Sandbox::sh(fill).exitCode, 0);
        DialogDriver manager({[&](QWidget *question) {
            Sandbox::writeFile("/tmp/mgr_ctl", "");
            waitFor([&] { return !window->managerDialog.isNull(); }, 5000);
            static_cast<QDialog *>(question)->accept();
        }}, 60000);
        QVERIFY(waitFor([&] { return window->ui->pbWipeDrive->isEnabled(); }, 5000));
        window->ui->pbWipeDrive->click();
        QVERIFY(Sandbox::sh(zeroed).exitCode != 0);
        QVERIFY(mainLog().contains("Refused Wipe Drive : the unit is under the control of a manager"));
        QFile::remove("/tmp/mgr_ctl");
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
    }

    // Install Image with no server address, or a name that is no address: the check fails with
    // its message, though the unit's own address (here 127.0.0.1) answers a ping.
    void serverCheckNeedsAServerAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("none") << "";
        QTest::newRow("a name") << "localhost";
    }

    void serverCheckNeedsAServerAddress()
    {
        QFETCH(QString, address);
        QScopedPointer<PxeClient> window(newWindow());
        NetworkHandler::GetInstance()->ipAddress = "127.0.0.1";
        QVERIFY(NetworkHandler::GetInstance()->CheckServerIP("127.0.0.1"));
        ServerHandler::GetInstance()->SetServerIp(address);
        Answer *failure = answerNextDialog(true);
        window->on_pbInstallImage_clicked();
        QVERIFY(failure->seen);
        QCOMPARE(failure->title, QString("Failure"));
        QCOMPARE(failure->text, QString("Could not contact the PXE server"));
        QVERIFY(!window->isBusy);
    }

    void fontRequestsStopAtTheirLimits()
    {
        QScopedPointer<PxeClient> window(newWindow());
        window->UpdateFontSize(18);
        for (int i = 0; i < 5; ++i) {
            key(window.data(), Qt::Key_Plus, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 21,
                X_SHIFT_CTRL_ALT_NUMLOCK, "+");
            QVERIFY(waitFor([&] { return !window->fontUpRequested; }, 5000));
        }
        QVERIFY(waitFor([&] { return window->fontSize == 24; }, 5000));
        QTest::qWait(200);
        QCOMPARE(window->fontSize, 24);
        QVERIFY(Sandbox::readFile("/root/.config/default.css").contains("font: 63 24pt"));
        // The keypad's "-" as a remote viewer sends it: Shift, Control, Meta and Keypad flags.
        const quint32 remoteMask = Qt::ShiftModifier | Qt::ControlModifier | Qt::MetaModifier | Qt::KeypadModifier;
        for (int i = 0; i < 10; ++i) {
            key(window.data(), Qt::Key_Minus, Qt::KeypadModifier, 82, remoteMask, "-");
            QVERIFY(waitFor([&] { return !window->fontDownRequested; }, 5000));
        }
        QVERIFY(waitFor([&] { return window->fontSize == 8; }, 5000));
        QTest::qWait(200);
        QCOMPARE(window->fontSize, 8);
        // A plain "-" is a plain key.
        key(window.data(), Qt::Key_Minus, Qt::NoModifier, 20, 16, "-");
        QVERIFY(!window->fontDownRequested);
    }

    void keyRequests()
    {
        QScopedPointer<PxeClient> window(newWindow());
        // Ctrl+Alt+Delete asks before leaving; Cancel keeps the console.
        Answer *question = answerNextDialog(false);
        key(window.data(), Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier, 119, 4 | 8 | 16);
        QVERIFY(window->exitRequested);
        QVERIFY(waitFor([&] { return question->seen; }, 5000));
        QCOMPARE(question->title, QStringLiteral("Confirmation"));
        QCOMPARE(question->text, QStringLiteral("Do you want to exit?"));
        QVERIFY(window->isVisible());
        QVERIFY(mainLog().contains("Ctrl+ALT+Delete \n"));
        // Delete with another scan code is not the exit keys.
        key(window.data(), Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier, 91, 4 | 8 | 16);
        QVERIFY(!window->exitRequested);
        // The service modifiers with ")" ask for the terminal, as do F1-F5 of a remote viewer.
        window->timer->stop();
        key(window.data(), Qt::Key_ParenRight, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 19,
            X_SHIFT_CTRL_ALT_NUMLOCK, ")");
        QVERIFY(window->terminalRequested);
        QVERIFY(mainLog().contains("Shift+Ctrl+ALT 0 \n"));
        window->terminalRequested = false;
        key(window.data(), 0, Qt::NoModifier, 69, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        QVERIFY(window->terminalRequested);
        window->terminalRequested = false;
        // The service modifiers are read from the native mask for every key: a remote viewer's
        // Shift, Control and Alt flags there count (Meta ignored), and so do X's Shift, Control
        // and Alt bits whatever NumLock and CapsLock say (13: X starts with NumLock off; 15:
        // CapsLock on); without Alt (21) they are no service keys.
        for (quint32 mask : {quint32(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier), 13u, 15u}) {
            key(window.data(), Qt::Key_ParenRight, Qt::ShiftModifier | Qt::ControlModifier, 19, mask, ")");
            QVERIFY2(window->terminalRequested, qPrintable(QString::number(mask, 16)));
            window->terminalRequested = false;
        }
        key(window.data(), Qt::Key_ParenRight, Qt::ShiftModifier | Qt::ControlModifier, 19, 21, ")");
        QVERIFY(!window->terminalRequested);
        // Other keys with the service modifiers are consumed, outside debug mode without effect.
        QKeyEvent other(QEvent::KeyPress, Qt::Key_M, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 58, 0,
                        X_SHIFT_CTRL_ALT_NUMLOCK);
        QVERIFY(QApplication::sendEvent(window.data(), &other));
        QVERIFY(window->ui->lblMonitorInfo->isHidden());
        // /tmp/debug-qt turns debug mode on at the next plain key.
        Sandbox::writeFile("/tmp/debug-qt", "");
        key(window.data(), Qt::Key_A, Qt::NoModifier, 38, 16, "a");
        QVERIFY(window->debugMode);
        QVERIFY(mainLog().contains("Turning on Debug Mode \n"));
        QFile::remove("/tmp/debug-qt");
        // The service modifiers with R close the console without reboot.
        window->ui->pbExit->setText("Reboot");
        window->exitClosesApp = false;
        Answer *leave = answerNextDialog(true);
        key(window.data(), Qt::Key_R, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 27,
            X_SHIFT_CTRL_ALT_NUMLOCK, "R");
        QVERIFY(waitFor([&] { return leave->seen && !window->isVisible(); }, 5000));
        QCOMPARE(leave->text, QStringLiteral("Do you want to exit?"));
        QVERIFY(!window->isVisible());
        QCOMPARE(recorded("reboot"), QString());
    }

    void exitOrReboot()
    {
        // A unit booted into the service kernel reboots.
        Sandbox::writeDouble("uname", "#!/bin/sh\necho 6.1.0-vemra-amd64\n");
        QScopedPointer<PxeClient> window(newWindow());
        QCOMPARE(window->ui->pbExit->text(), QStringLiteral("Reboot"));
        QVERIFY(!window->exitClosesApp);
        // /tmp/stop-qt: confirming Reboot only closes the console.
        Sandbox::writeFile("/tmp/stop-qt", "");
        Answer *first = answerNextDialog(true);
        QTest::mouseClick(window->ui->pbExit, Qt::LeftButton);
        QCOMPARE(first->text, QStringLiteral("Do you want to reboot?"));
        QVERIFY(!window->isVisible());
        QCOMPARE(recorded("reboot"), QString());
        QFile::remove("/tmp/stop-qt");
        // Without it the unit reboots, once, after the window closed.
        window.reset(newWindow());
        answerNextDialog(true);
        QTest::mouseClick(window->ui->pbExit, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QVERIFY(!window->timer->isActive());
        QCOMPARE(recorded("reboot"), QStringLiteral("\n"));
        QFile::remove(Sandbox::doublesDir() + "/uname");
        window.reset(newWindow());
        QCOMPARE(window->ui->pbExit->text(), QStringLiteral("Exit"));
        QVERIFY(window->exitClosesApp);
    }

    // The program on a real X server ends after a confirmed Reboot, and says so first when
    // reboot fails; the service keys work with NumLock off (as X starts) and on.
    void programEndsAfterReboot()
    {
        QProcess xvfb;
        QVERIFY(startXvfb(xvfb, ":77", 96));
        const QString root = Sandbox::root();
        Sandbox::writeDouble("uname", "#!/bin/sh\necho 6.1.0-vemra-amd64\n");
        Sandbox::writeDouble("reboot", QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1/reboot.calls'\n"
                                                      "[ -e '%1/reboot-fails' ] && { echo 'reboot: not permitted' >&2; exit 1; }\n"
                                                      "exit 0\n").arg(root));
        QFile::remove(root + "/reboot.calls");
        const QString x = "DISPLAY=:77 timeout 20 xdotool ";
        // No window manager: keys go to the window under the pointer, so it goes over the dialog
        // first (again, until the dialog is gone: a window only just mapped may miss them).
        const auto answer = [&](const QString &title, const QString &keys) {
            const QString search = x + "search --onlyvisible --name '^" + title + "$'";
            return Sandbox::sh(x + "search --sync --onlyvisible --name '^" + title + "$'").exitCode == 0 && waitFor([&] {
                Sandbox::sh(search + " mousemove --window %1 20 20 sleep 0.3 " + keys);
                return Sandbox::sh(search).exitCode != 0;
            }, 15000);
        };
        for (bool fails : {false, true}) {
            QFile::remove("/var/log/pxe_client.log");
            if (fails)
                Sandbox::writeFile(root + "/reboot-fails", "");
            QProcess console;
            console.setProcessEnvironment(Sandbox::environment({"DISPLAY=:77", "QT_QPA_PLATFORM=xcb"}));
            console.start(Sandbox::binDir() + "/console", QStringList());
            QVERIFY(waitFor([] { return mainLog().contains("Start Timer"); }, 30000));
            QCOMPARE(Sandbox::sh(x + "search --sync --onlyvisible --name '^Brenlow$' sleep 1").exitCode, 0);
            for (const QString &lock : QStringList{QString(), "key Num_Lock "}) {
                if (fails)
                    break;
                const int before = mainLog().count("Shift+Ctrl+ALT 0");
                QCOMPARE(Sandbox::sh(x + "mousemove 400 300 sleep 0.3 " + lock + "key shift+ctrl+alt+0").exitCode, 0);
                QVERIFY2(waitFor([&] { return mainLog().count("Shift+Ctrl+ALT 0") == before + 1; }, 5000), qPrintable(lock));
                QVERIFY(answer("Dialog", "key Escape"));
            }
            QCOMPARE(Sandbox::sh(x + "mousemove 400 300 sleep 0.3 key ctrl+alt+Delete").exitCode, 0);
            QVERIFY(answer("Confirmation", "key Return"));
            if (fails)
                QVERIFY(answer("Reboot Failed", "key Return"));
            QVERIFY(console.waitForFinished(20000));
            QCOMPARE(console.exitCode(), fails ? 1 : 0);
            QVERIFY(mainLog().contains(fails ? "reboot failed with 1 reboot: not permitted" : "Stopped PxeClient"));
        }
        QCOMPARE(Sandbox::readFile(root + "/reboot.calls"), QByteArray("\n\n"));
        QFile::remove(root + "/reboot-fails");
        QFile::remove(Sandbox::doublesDir() + "/uname");
        recordingDouble("reboot");
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }

    // The window a technician sees on a production unit with its system drive; with
    // BRENLOW_SCREENSHOTS set (scripts/screenshots) its picture is saved there.
    void productionWindowWithADrive()
    {
        VirtualDrive unit("unit", "64M");
        QVERIFY(unit.makeGpt({"-n", "1:2048:0"}));
        QVERIFY(unit.setAsSystemDrive());
        writeVersion("Brenlow Service production v5.12.0100.0042");
        // The server address is kept once found; the technician set this one.
        ServerHandler::GetInstance()->SetServerIp("192.168.10.7");
        QScopedPointer<PxeClient> window(newWindow());
        QCOMPARE(window->ui->lblInfo2->text(), QStringLiteral("Active Drive: ") + unit.device());
        QCOMPARE(window->ui->lblInfo1->text(), QStringLiteral("PXE IP: 192.168.10.7"));
        const QString folder = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
        if (!folder.isEmpty()) {
            QTest::qWait(500);
            QVERIFY(window->grab().save(folder + "/console-main.png", "PNG"));
        }
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
    }

    // The program on a real X server: 1280 x 1024 at 96 dpi is 271 mm high (20 points), at 130
    // dpi 200 mm (14 points). Started through a path containing "vnc" it is the remote-view
    // instance: its own log and /tmp/vnc-pxe while it runs; a real Ctrl+Alt+Delete and Return
    // close it.
    void programOnXvfb_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("font");
        QTest::newRow("tall screen") << 96 << 20;
        QTest::newRow("medium screen") << 130 << 14;
    }

    void programOnXvfb()
    {
        QFETCH(int, dpi);
        QProcess xvfb;
        const QString display = QStringLiteral(":%1").arg(dpi);
        QVERIFY(startXvfb(xvfb, display, dpi));
        QFile::remove("/var/log/pxe_client.log");
        QProcess console;
        QProcessEnvironment environment = Sandbox::environment({"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"});
        console.setProcessEnvironment(environment);
        console.start(Sandbox::binDir() + "/console", QStringList());
        QVERIFY(waitFor([] { return mainLog().contains("Start Timer"); }, 30000));
        QTEST(mainLog().contains("Setting font size to  20 \n") ? 20 : mainLog().contains("Setting font size to  14 \n") ? 14 : 0,
              "font");
        console.kill();
        console.waitForFinished(5000);

        // The remote-view instance, closed from the keyboard.
        QFile::remove("/var/log/vnc-pxe-client.log");
        QCOMPARE(Sandbox::sh("ln -sf \"$BRENLOW_BIN/console\" /tmp/vnc-console").exitCode, 0);
        console.start("/tmp/vnc-console", QStringList());
        const auto vncLog = [] { return QString::fromLatin1(Sandbox::readFile("/var/log/vnc-pxe-client.log")); };
        QVERIFY(waitFor([&] { return vncLog().contains("Start Timer") && QFile::exists("/tmp/vnc-pxe"); }, 30000));
        QVERIFY(vncLog().contains("Setting font size to  12 \n"));   // the remote view: by width only
        const QString xdotool = "DISPLAY=" + display + " xdotool ";
        // There is no window manager: the keyboard follows the pointer, so it goes over the window.
        QCOMPARE(Sandbox::sh("DISPLAY=" + display + " timeout 20 xdotool search --sync --onlyvisible --name '^Brenlow$'").exitCode, 0);
        QCOMPARE(Sandbox::sh(xdotool + "mousemove 400 300 sleep 0.3 key ctrl+alt+Delete").exitCode, 0);
        QVERIFY(waitFor([&] { return vncLog().contains("Ctrl+ALT+Delete"); }, 10000));
        // The timer opens the question; Return answers it once it is there.
        QCOMPARE(Sandbox::sh("DISPLAY=" + display + " timeout 20 xdotool search --sync --name '^Confirmation$'").exitCode, 0);
        QCOMPARE(Sandbox::sh(xdotool + "key Return").exitCode, 0);
        QVERIFY(console.waitForFinished(20000));
        QCOMPARE(console.exitCode(), 0);
        QVERIFY(vncLog().contains("Stopped PxeClient"));
        QVERIFY(!QFile::exists("/tmp/vnc-pxe"));
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
};

QTEST_MAIN(TestPxeClient)
#include "tst_pxeclient.moc"
