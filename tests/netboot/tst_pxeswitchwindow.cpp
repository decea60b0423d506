// The pxeswitch window on a real X server (Xvfb, xcb platform), driven like a technician drives it:
// the PXE switch, Refresh, the UEFI page and its first boot choice, against the firmware doubles.
// With BRENLOW_SCREENSHOTS naming a folder (scripts/screenshots does), it saves a picture of each
// page there; otherwise it writes nothing outside the sandbox.

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

#include "firmware.h"
#include "privatexserver.h"
#include "fixtures.h"
#include "pxeswitchwindow.h"
#include "ui_pxeswitchwindow.h"

class TestPxeSwitchWindow : public QObject
{
    Q_OBJECT

private:
    static QString csvState(const QString &name)
    {
        return Firmware::insydeValue(name, QString());
    }
    static void saveShot(QWidget *window, const QString &name)
    {
        const QString folder = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        QApplication::processEvents();
        const QString path = folder + "/" + name;
        QVERIFY2(window->grab().save(path, "PNG"), qPrintable(path));
    }
    // The radio button stretches over the page; only its indicator and text take clicks.
    static void clickRadio(QRadioButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, button->height() / 2));
    }
    static void setUp()
    {
        Firmware::reset();
        Firmware::setUnit("t740");
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Firmware::setEfi(fixtures::efiEntries(), "0003,0001,0002", "0001");
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        Firmware::reset();
        QVERIFY(Firmware::install());
    }

    void formMatchesTheLayout()
    {
        PxeSwitchWindow window;
        Ui::PxeSwitchWindow *ui = window.UiForm();
        QCOMPARE(window.windowTitle(), QString("PxeSwitchWindow"));
        QCOMPARE(window.size(), QSize(566, 352));
        QCOMPARE(ui->tabWidget->count(), 2);
        QCOMPARE(ui->tabWidget->currentIndex(), 0);
        QCOMPARE(ui->tabWidget->tabText(0), QString("PXE Settings"));
        QCOMPARE(ui->tabWidget->tabText(1), QString("UEFI Boot"));
        QCOMPARE(ui->rbPXeEnabled->text(), QString("Pxe Enabled"));
        QVERIFY(ui->pteInfo->isReadOnly());
        QVERIFY(!ui->pteInfo->isUndoRedoEnabled());
        QCOMPARE(ui->label->text(), QString("First Boot Option"));
        QCOMPARE(ui->pbRefresh->text(), QString("Refresh"));
        QCOMPARE(ui->buttonBox->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QVERIFY(window.statusBar());
        // Controls stay off until Init has read the firmware.
        QVERIFY(!ui->rbPXeEnabled->isEnabled());
        QVERIFY(!ui->pbRefresh->isEnabled());
        QVERIFY(!ui->buttonBox->isEnabled());
    }

    void pxePage()
    {
        setUp();
        PxeSwitchWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Init();
        Ui::PxeSwitchWindow *ui = window.UiForm();
        QVERIFY(ui->rbPXeEnabled->isEnabled() && ui->pbRefresh->isEnabled() && ui->buttonBox->isEnabled());
        QVERIFY(!ui->rbPXeEnabled->isChecked());
        QCOMPARE(ui->pteInfo->toPlainText(),
                 QString("PXE Handler: Insyde h2ouve\nProduct: t740\nBIOS:    L43 v01.10\nSysMfgr: Vemra\n"
                         "bbMfgr:  Vemra Board Works"));

        // Switching on through the radio button writes the firmware.
        clickRadio(ui->rbPXeEnabled);
        QVERIFY(ui->rbPXeEnabled->isChecked());
        QCOMPARE(csvState("Network Stack"), QString("Enabled"));
        QCOMPARE(csvState("PXE Boot to LAN"), QString("UEFI:IPv4"));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("enabled\n"));
        QVERIFY(ui->rbPXeEnabled->isEnabled());
        saveShot(&window, "pxeswitch-pxe.png");

        // And off again.
        clickRadio(ui->rbPXeEnabled);
        QVERIFY(!ui->rbPXeEnabled->isChecked());
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("disabled\n"));

        // Someone else switched it on; Refresh shows it once the cached export is gone.
        QStringList rows = fixtures::insydeUefiOff();
        rows[1].replace(",Disabled,", ",Enabled,");
        Firmware::setInsyde(rows);
        QFile::remove("/tmp/get-bios-info.csv");
        QTest::mouseClick(ui->pbRefresh, Qt::LeftButton);
        QVERIFY(ui->rbPXeEnabled->isChecked());
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("enabled\n"));
        QVERIFY(ui->pbRefresh->isEnabled());
    }

    void uefiPage()
    {
        setUp();
        PxeSwitchWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Init();
        Ui::PxeSwitchWindow *ui = window.UiForm();
        Firmware::clearCalls();

        ui->tabWidget->setCurrentIndex(1);
        QCOMPARE(ui->pteEfiInfo->toPlainText(),
                 QString("BootOrder: 0003,0001,0002\nBootCurrent: 0001\n0001: Vemra OS\n"
                         "0002: UEFI PXEv4 (MAC:001122334455)\n0003: UEFI USB Stick"));
        QCOMPARE(ui->cmbxBootNames->count(), 3);
        QCOMPARE(ui->cmbxBootNames->itemText(1), QString("UEFI PXEv4 (MAC:001122334455)"));
        QCOMPARE(ui->cmbxBootNames->currentText(), QString("Vemra OS"));
        QCOMPARE(Firmware::calls().filter("--bootorder"), QStringList());   // filling the list writes nothing

        // Choosing the network entry puts it first in the firmware's boot order.
        ui->cmbxBootNames->setFocus();
        QTest::keyClick(ui->cmbxBootNames, Qt::Key_Down);
        QCOMPARE(ui->cmbxBootNames->currentText(), QString("UEFI PXEv4 (MAC:001122334455)"));
        QCOMPARE(Firmware::efiOrder(), QString("0002,0003,0001"));
        QCOMPARE(Firmware::calls().filter("--bootorder"), QStringList{"efibootmgr --bootorder=0002,0003,0001"});
        saveShot(&window, "pxeswitch-uefi.png");

        // Entering the page again shows the new order.
        ui->tabWidget->setCurrentIndex(0);
        ui->tabWidget->setCurrentIndex(1);
        QVERIFY(ui->pteEfiInfo->toPlainText().startsWith("BootOrder: 0002,0003,0001\n"));
        QCOMPARE(ui->cmbxBootNames->currentText(), QString("Vemra OS"));
        QCOMPARE(Firmware::calls().filter("--bootorder").size(), 1);

        // OK closes the window.
        QTest::mouseClick(ui->buttonBox->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QVERIFY(!window.isVisible());
    }

    // The program's own window (-g), with the UEFI page fed by the test source (-t).
    void programOpensItsWindow()
    {
        setUp();
        QCOMPARE(Sandbox::run("mount", {"-t", "tmpfs", "tmpfs", "/usr/local/bin"}).exitCode, 0);
        Sandbox::writeFile("/usr/local/bin/efibootmgr.sh",
                           "#!/bin/sh\necho efibootmgr.sh >> \"$BRENLOW_SANDBOX/fw/calls.log\"\n"
                           "echo 'BootCurrent: 0003'\necho 'BootOrder: 0003,0001'\n"
                           "echo 'Boot0001* Vemra OS'\necho 'Boot0003* Test Source Stick'\n");
        QFile::setPermissions("/usr/local/bin/efibootmgr.sh", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QProcess program;
        program.start(Sandbox::binDir() + "/pxeswitch", {"-g", "-t"});
        QVERIFY(program.waitForStarted());
        // The window shows first, then reads the firmware (the EFI listing last).
        bool seen = false;
        bool read = false;
        for (int i = 0; i < 150 && !(seen && read); ++i) {
            QTest::qWait(100);
            seen = Sandbox::run("xwininfo", {"-root", "-tree"}).out.contains("\"PxeSwitchWindow\"");
            read = Firmware::calls().contains("efibootmgr.sh");
        }
        const bool running = program.state() == QProcess::Running;
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QVERIFY(seen);
        QVERIFY(running);
        // The UEFI data came from the test source, not from efibootmgr.
        QVERIFY(read);
        QCOMPARE(Firmware::calls().filter("efibootmgr ").size(), 0);
        QCOMPARE(Sandbox::run("umount", {"/usr/local/bin"}).exitCode, 0);
    }
};

// The window needs a real X server: one is started here, private to the sandbox's /tmp.
int main(int argc, char *argv[])
{
    return runOnPrivateXServer<TestPxeSwitchWindow>(argc, argv, ":57");
}

#include "tst_pxeswitchwindow.moc"
