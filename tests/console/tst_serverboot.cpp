// The production server's address (kernel word, server_ip.sh, /tmp/serverip), the server address
// dialog, the UEFI/legacy choice and the LAN boot switch, driven from the main window's rows. The
// LAN boot switch runs the real get_pxeswitch.sh and pxeswitch against the firmware doubles.
#include "boottypedialog.h"
#include "consolefixture.h"
#include "dialogdriver.h"
#include "diskhandler.h"
#include "drivejob.h"
#include "firmware.h"
#include "fixtures.h"
#include "networkhandler.h"
#include "pxeclient.h"
#include "sandbox.h"
#include "serverhandler.h"
#include "serveripdialog.h"
#include "ui_boottypedialog.h"
#include "ui_serveripdialog.h"
#include "utils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace ConsoleFixture;

static QString text(const QString &path)
{
    return QString::fromLatin1(Sandbox::readFile(path));
}

static int serverScriptRuns()
{
    return text(Sandbox::root() + "/server_ip.calls").count('\n');
}

class TestServerBoot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Utils::InitLogger(2);
        writeStyleSheet();
        QVERIFY(Firmware::install());
        Firmware::reset();
        Firmware::setUnit("t740");
        QVERIFY(!Sandbox::writeDouble("server_ip.sh", "#!/bin/sh\necho run >> \"$BRENLOW_SANDBOX/server_ip.calls\"\n"
                                                      "exec \"$BRENLOW_BIN/server_ip.sh\"\n").isEmpty());
        QVERIFY(setKernelCommandLine("quiet"));
    }

    void serverAddress_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("scriptRuns");
        QTest::newRow("prod-server word") << "quiet prod-server=10.9.8.7 ip=10.0.0.5:10.1.1.1:10.0.0.1:255.0.0.0"
                                          << "10.9.8.7" << false;
        QTest::newRow("prod_server word, the later wins") << "prod_server=10.9.8.6 quiet prod-server=10.9.8.8"
                                                          << "10.9.8.8" << false;
        QTest::newRow("server_ip.sh from the boot's ip= word") << "quiet ip=10.0.0.5:10.1.1.1:10.0.0.1:255.0.0.0"
                                                               << "10.1.1.1" << true;
        QTest::newRow("neither: built-in") << "quiet" << "192.168.10.2" << true;
    }
    void serverAddress()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, address);
        QFETCH(bool, scriptRuns);
        QVERIFY(setKernelCommandLine(commandLine));
        Sandbox::writeFile("/tmp/serverip", "10.4.4.4\n");   // a refresh forgets it
        const int before = serverScriptRuns();
        QCOMPARE(ServerHandler::GetInstance()->GetServerIp(true), address);
        QVERIFY(!QFile::exists("/tmp/serverip"));
        QCOMPARE(serverScriptRuns() - before, scriptRuns ? 1 : 0);
        QVERIFY(setKernelCommandLine("quiet"));
    }

    void invalidServerFileLeavesNoAddress()
    {
        ServerHandler *server = ServerHandler::GetInstance();
        server->SetServerIp(QString());
        Sandbox::writeFile("/tmp/serverip", "10.1.2\n127.0.0.1\n");
        QCOMPARE(server->GetServerIp(false), QString());
        QVERIFY(!server->VerifyServerIp(QString()));
        server->SetServerIp(QString());
        Sandbox::writeFile("/tmp/serverip", " 127.0.0.1 \n");
        QCOMPARE(server->GetServerIp(false), QString("127.0.0.1"));
        QVERIFY(server->VerifyServerIp(QString()));   // a real ping in our own network
    }

    void serverList_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("alternatives");
        QTest::addColumn<QStringList>("servers");
        QTest::newRow("one address: too short, built-in added, the address not")
            << QByteArray("10.0.0.9") << QByteArray() << QStringList{"10.5.5.5", "192.168.10.3"};
        QTest::newRow("list and alternatives, no doubles")
            << QByteArray("10.0.0.9 10.0.0.8\n") << QByteArray("10.0.0.7\n\n10.0.0.9\n")
            << QStringList{"10.5.5.5", "10.0.0.9", "10.0.0.8", "10.0.0.7"};
        QTest::newRow("the initial address listed stays in place")
            << QByteArray("10.0.0.9 10.5.5.5") << QByteArray() << QStringList{"10.0.0.9", "10.5.5.5"};
    }
    void serverList()
    {
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, alternatives);
        QFETCH(QStringList, servers);
        Sandbox::writeFile("/tmp/serverList.txt", list);
        QFile::remove("/tmp/alt_serverips");
        if (!alternatives.isEmpty())
            Sandbox::writeFile("/tmp/alt_serverips", alternatives);
        ServerIpDialog dialog("10.5.5.5");
        QCOMPARE(dialog.servers, servers);
        QCOMPARE(dialog.ui->cbxIpAddress->currentText(), QString("10.5.5.5"));
        QCOMPARE(dialog.ui->leIpAddress->text(), QString("10.5.5.5"));
    }

    // The row: the typed address is checked, then kept in both files and used.
    void okWritesBothFilesFromTheRow()
    {
        Sandbox::writeFile("/tmp/serverip", "10.5.5.5\n");
        Sandbox::writeFile("/tmp/serverList.txt", "10.0.0.9 10.0.0.8\n");
        QFile::remove("/tmp/alt_serverips");
        ServerHandler::GetInstance()->SetServerIp(QString());
        PxeClient window;
        auto type = [](const QString &address) {
            return [=](QWidget *dialog) {
                dialog->findChild<QLineEdit *>("leIpAddress")->setText(address);
                DialogDriver::click(dialog, "OK");
            };
        };
        DialogDriver driver({type("10.6.6"), DialogDriver::press("OK"), type("10.6.6.6")});
        window.on_pbProdServerIP_clicked();
        QCOMPARE(driver.seen, QStringList({"ServerIpDialog", "IP ADDRESS: Could not validate address", "ServerIpDialog"}));
        QCOMPARE(text("/tmp/serverip"), QString("10.6.6.6\n"));
        QCOMPARE(text("/tmp/serverList.txt"), QString("10.6.6.6 10.5.5.5 10.0.0.9 10.0.0.8\n"));
        QCOMPARE(ServerHandler::GetInstance()->serverIp, QString("10.6.6.6"));
    }

    // Production mode shows the list; Reset forgets the files and asks the boot again; Cancel
    // after a reset returns to the address the dialog began with.
    void resetThenCancel()
    {
        QVERIFY(setKernelCommandLine("quiet prod-server=10.9.8.7"));
        Utils::productionMode = true;
        for (const char *path : {"/tmp/serverip", "/tmp/serverList.txt", "/tmp/alt_serverips"})
            Sandbox::writeFile(path, "10.5.5.5\n");
        ServerHandler::GetInstance()->SetServerIp("10.5.5.5");
        ServerIpDialog dialog("10.5.5.5");
        QVERIFY(!dialog.ui->leIpAddress->isVisibleTo(&dialog));
        QVERIFY(dialog.ui->cbxIpAddress->isVisibleTo(&dialog));
        dialog.ui->buttonBox->button(QDialogButtonBox::Reset)->click();
        for (const char *path : {"/tmp/serverip", "/tmp/serverList.txt", "/tmp/alt_serverips"})
            QVERIFY2(!QFile::exists(path), path);
        QCOMPARE(dialog.ui->cbxIpAddress->currentText(), QString("10.9.8.7"));
        QCOMPARE(ServerHandler::GetInstance()->serverIp, QString("10.9.8.7"));
        dialog.ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
        QCOMPARE(ServerHandler::GetInstance()->serverIp, QString("10.5.5.5"));
        QCOMPARE(dialog.selectedIp, QString());
        Utils::productionMode = false;
        QVERIFY(setKernelCommandLine("quiet"));
    }

    // The unit's BIOS listed: UEFI; choosing legacy removes nothing, so UEFI shows again.
    void bootTypeFromModelList()
    {
        Firmware::setDmi("bios-version", "L43 v01.10");
        Sandbox::writeFile("/etc/efi_models", "A11 v02.00\nL43 v01.10\n");
        QFile::remove("/tmp/mkefi");
        PxeClient window;
        DialogDriver driver({DialogDriver::choose("BIOS/Legacy", "OK"), DialogDriver::press("Cancel")});
        window.on_pbBootType_clicked();
        QVERIFY(!QFile::exists("/tmp/mkefi"));
        BootTypeDialog again;
        QVERIFY(again.ui->rbUefi->isChecked());
        window.on_pbBootType_clicked();
        QCOMPARE(driver.taken(), 2);
    }

    // Not listed: legacy; choosing UEFI writes the marker; Reset removes it and the list decides.
    void bootTypeMarkerAndReset()
    {
        Firmware::setDmi("bios-version", "L43 v01.10");
        Sandbox::writeFile("/etc/efi_models", "A11 v02.00\n");
        QFile::remove("/tmp/mkefi");
        PxeClient window;
        DialogDriver driver({DialogDriver::choose("UEFI", "OK")});
        window.on_pbBootType_clicked();
        QCOMPARE(text("/tmp/mkefi"), QString("0"));
        BootTypeDialog dialog;
        QVERIFY(dialog.ui->rbUefi->isChecked());
        dialog.ui->buttonBox->button(QDialogButtonBox::Reset)->click();
        QVERIFY(!QFile::exists("/tmp/mkefi"));
        QVERIFY(dialog.ui->rbLegacy->isChecked());
        QVERIFY(dialog.isVisible() == false && dialog.result() == 0);
    }

    // Mend: a blank line of the model list names no BIOS, also when dmidecode prints a blank line
    // or nothing at all.
    void blankLinesNeverMakeAUnitUefi()
    {
        QFile::remove("/tmp/mkefi");
        Sandbox::writeFile("/etc/efi_models", "A11 v02.00\n\n");
        Firmware::setDmi("bios-version", "");
        QVERIFY(!Utils::GetCurrentBootType());
        QFile::remove(Firmware::dir() + "/dmi/bios-version");
        QVERIFY(!Utils::GetCurrentBootType());
        Firmware::setDmi("bios-version", "A11 v02.00");
        QVERIFY(Utils::GetCurrentBootType());
    }

    // The LAN boot row: switched on through the real pxeswitch; OK without a change runs nothing
    // and closes at once.
    void lanBootSwitch()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        QVERIFY(!Utils::GetPxeSwitchEnabled());
        PxeClient window;
        QVERIFY(window.pxeSettingShown);
        bool shownChecked = true;
        DialogDriver driver({[&](QWidget *dialog) {
            auto *box = dialog->findChild<QCheckBox *>("ckbPxeEnabled");
            shownChecked = box->isChecked();
            box->setChecked(true);
            DialogDriver::click(dialog, "OK");
        }});
        window.on_pbPxeBoot_clicked();
        QVERIFY(!shownChecked);
        QVERIFY(Firmware::insydeValue("PXE Boot to LAN") != "Disabled");
        QVERIFY(Utils::GetPxeSwitchEnabled());
        QVERIFY(mainLog().contains("PXE Dialog Spawned PXE enable enabled"));
        QVERIFY(mainLog().contains("Spawned Thread Finished Pxe State = enabled"));
        QVERIFY(mainLog().contains("Pxe Dialog Returned"));

        Firmware::clearCalls();
        const int finishedBefore = mainLog().count("Spawned Thread Finished 0");
        DialogDriver unchanged({[&](QWidget *dialog) {
            shownChecked = dialog->findChild<QCheckBox *>("ckbPxeEnabled")->isChecked();
            DialogDriver::click(dialog, "OK");
        }});
        window.on_pbPxeBoot_clicked();
        QVERIFY(shownChecked);
        QCOMPARE(Firmware::countCalls("h2ouve-l.real"), 0);
        QCOMPARE(mainLog().count("Spawned Thread Finished 0"), finishedBefore + 1);
    }

    // While its switch runs the LAN boot dialog stays (Escape and the window's close do nothing),
    // a second switch is refused without touching the running pxeswitch, and so is any other
    // drive job; the dialog closes when the switch has ended.
    void lanBootDialogHeldWhileItsSwitchRuns()
    {
        const bool before = Utils::GetPxeSwitchEnabled();
        const QString gate = Sandbox::root() + "/switch-gate";
        QFile::remove(gate);
        // Only the switch itself (-e, -d) waits for the gate; asking the state (-s) does not.
        QVERIFY(!Sandbox::writeDouble("pxeswitch", "#!/bin/sh\ncase \"$1\" in -e|-d) while [ ! -e '" + gate +
                                                   "' ]; do sleep 0.05; done ;; esac\n"
                                                   "exec \"$BRENLOW_BIN/pxeswitch\" \"$@\"\n").isEmpty());
        PxeClient window;
        bool stayed = false, secondRefused = false, stillRunning = false, driveRefused = false;
        DialogDriver driver({[&](QWidget *widget) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            dialog->findChild<QCheckBox *>("ckbPxeEnabled")->setChecked(!before);
            QVERIFY(DialogDriver::click(dialog, "OK"));
            QVERIFY(waitFor([] { return Sandbox::run("pgrep", {"-f", Sandbox::doublesDir() + "/pxeswitch -[ed]"}).exitCode == 0; }, 10000));
            QTest::keyClick(dialog, Qt::Key_Escape);
            dialog->close();
            QTest::qWait(200);
            stayed = dialog->isVisible();
            secondRefused = !Utils::GetInstance()->SpawnSetPxeSwitchEnable(before)
                            && !Utils::GetInstance()->SpawnShell("sleep", {"5"});
            driveRefused = DiskHandler::GetInstance()->Restore("bim", "/mnt/smb", "x.bim", false) == -7;
            stillRunning = Sandbox::run("pgrep", {"-f", Sandbox::doublesDir() + "/pxeswitch -[ed]"}).exitCode == 0;
            Sandbox::writeFile(gate, "");
        }}, 60000);
        window.on_pbPxeBoot_clicked();
        QFile::remove(Sandbox::doublesDir() + "/pxeswitch");
        QCOMPARE(driver.taken(), 1);
        QVERIFY2(stayed, qPrintable(mainLog().right(2500)));
        QVERIFY(secondRefused);
        QVERIFY(driveRefused);
        QVERIFY(stillRunning);
        QCOMPARE(Utils::GetPxeSwitchEnabled(), !before);
        QCOMPARE(DriveJob::Running(), QString());
    }
};

QTEST_MAIN(TestServerBoot)
#include "tst_serverboot.moc"
