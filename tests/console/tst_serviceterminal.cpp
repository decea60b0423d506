// The service terminal and the system information window on a real X server, driven through the
// main window as a technician drives them: the password gate, a shell that runs what is typed
// into it, Close leaving no shell behind; the firmware, drive and network facts of the unit.
// With BRENLOW_SCREENSHOTS naming a folder (scripts/screenshots does), it saves a picture of each
// window there; otherwise it writes nothing outside the sandbox.

#include "consolefixture.h"
#include "dialogdriver.h"
#include "privatexserver.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include "logindialog.h"
#include "pxeclient.h"
#include "systeminfo.h"
#include "terminalwidget.h"
#include "termwidget.h"
#include "ui_logindialog.h"
#include "ui_pxeclient.h"
#include "ui_systeminfo.h"
#include "ui_terminalwidget.h"
#include "utils.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace ConsoleFixture;

namespace {

const QString TYPED_FILE = QStringLiteral("/tmp/typed-by-technician");

QString procFile(qint64 pid, const QString &name)
{
    return QString::fromLocal8Bit(Sandbox::readFile(QStringLiteral("/proc/%1/%2").arg(pid).arg(name)));
}

bool processGone(qint64 pid)
{
    // A zombie is gone for a technician too: nothing runs any more.
    const QString stat = procFile(pid, "stat");
    return stat.isEmpty() || stat.section(") ", 1, 1).startsWith('Z');
}

// The widget that takes the terminal's keys (the library's display inside the TermWidget).
QWidget *terminalDisplay(TermWidget *term)
{
    for (QWidget *child : term->findChildren<QWidget *>())
        if (QByteArray(child->metaObject()->className()).endsWith("TerminalDisplay"))
            return child;
    return nullptr;
}

void typeLine(TermWidget *term, const QString &text)
{
    QWidget *display = terminalDisplay(term);
    QVERIFY(display);
    QTest::keyClicks(display, text);
    QTest::keyClick(display, Qt::Key_Return);
}

void saveShot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    waitFor([] { return false; }, 300);
    QVERIFY2(window->grab().save(folder + "/" + name, "PNG"), qPrintable(name));
}

}

class TestServiceTerminal : public QObject
{
    Q_OBJECT

    std::unique_ptr<PxeClient> console;

    // Opens the terminal row with the password typed into the gate (Return or OK), then hands
    // the terminal window, if one opens, to onTerminal.
    int openTerminal(const QString &password, bool withReturn, const DialogDriver::Step &onTerminal = nullptr)
    {
        DialogDriver steps({[=](QWidget *modal) {
                              auto *login = qobject_cast<LoginDialog *>(modal);
                              QVERIFY(login);
                              QTest::keyClicks(login->ui->lePassword, password);
                              if (withReturn)
                                  QTest::keyClick(login->ui->lePassword, Qt::Key_Return);
                              else
                                  login->ui->buttonBox->button(QDialogButtonBox::Ok)->click();
                          },
                          onTerminal ? onTerminal : [](QWidget *) { QFAIL("a terminal opened"); }},
                         30000);
        console->on_pbQterm_clicked();
        return steps.taken();
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        writeStyleSheet(16);
        Utils::InitLogger(2);
        qunsetenv("HDD");
        // No system drive until a test makes one; never the machine's own disks.
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
        Sandbox::writeDouble("dmidecode", "#!/bin/sh\n"
                                          "echo \"$*\" >> /tmp/dmidecode-calls\n"
                                          "case \"$2\" in\n"
                                          "bios-vendor) printf 'Vemra Firmware Ltd\\nsecond vendor line\\n' ;;\n"
                                          "bios-version) printf 'V7.02.15\\n# SMBIOS 3.2 present.\\n' ;;\n"
                                          "bios-release-date) printf '03/14/2024\\n' ;;\n"
                                          "esac\n");
        // The unit's network adapter: one end of a veth pair in the test's own namespace.
        QCOMPARE(Sandbox::sh("ip link add eth0 type veth peer name eth0-peer && "
                             "ip link set eth0 address 02:00:5e:10:00:15 && "
                             "ip addr add 10.77.0.15/24 dev eth0 && ip link set eth0 up && ip link set eth0-peer up").exitCode, 0);
        console.reset(new PxeClient);
        console->show();
        QVERIFY(waitFor([&] { return console->isVisible(); }));
    }

    void cleanupTestCase()
    {
        console.reset();
    }

    void forms_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("text");
        QTest::newRow("login title") << "LoginDialog" << "LoginDialog" << "Dialog";
        QTest::newRow("login label") << "LoginDialog" << "label" << "Please Enter Password";
        QTest::newRow("terminal title") << "TerminalWidget" << "TerminalWidget" << "Terminal";
        QTest::newRow("info title") << "SystemInfo" << "SystemInfo" << "System Information";
        QTest::newRow("bios") << "SystemInfo" << "gbBios" << "Bios";
        QTest::newRow("network") << "SystemInfo" << "gbNetwork" << "Network";
        QTest::newRow("drive") << "SystemInfo" << "gbSystemDrive" << "System Drive";
        QTest::newRow("sector label") << "SystemInfo" << "lbl_SectorSize" << "Sector Size (logical/physical):";
    }

    void forms()
    {
        QFETCH(QString, window);
        QFETCH(QString, object);
        QFETCH(QString, text);
        std::unique_ptr<QWidget> w;
        if (window == "LoginDialog")
            w.reset(new LoginDialog);
        else if (window == "TerminalWidget")
            w.reset(new TerminalWidget);
        else
            w.reset(new SystemInfo);
        QWidget *target = w->objectName() == object ? w.get() : w->findChild<QWidget *>(object);
        QVERIFY2(target, qPrintable(object));
        QString shown = target->windowTitle();
        if (auto *label = qobject_cast<QLabel *>(target))
            shown = label->text();
        if (auto *box = qobject_cast<QGroupBox *>(target))
            shown = box->title();
        QCOMPARE(shown, text);
    }

    void formSizesAndButtons()
    {
        LoginDialog login;
        QCOMPARE(login.size(), QSize(438, 144));
        QCOMPARE(login.ui->lePassword->echoMode(), QLineEdit::Password);
        QCOMPARE(login.ui->buttonBox->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        TerminalWidget terminal;
        QCOMPARE(terminal.size(), QSize(924, 678));
        QCOMPARE(terminal.minimumSize(), QSize(800, 600));
        QCOMPARE(terminal.maximumSize(), QSize(1024, 768));
        QCOMPARE(terminal.ui->buttonBox->standardButtons(), QDialogButtonBox::Close);
        QCOMPARE(terminal.ui->mainFrame->findChild<TermWidget *>(), terminal.termWidget);
        SystemInfo info;
        QCOMPARE(info.size(), QSize(740, 659));
        QCOMPARE(info.minimumSize(), QSize(640, 480));
        QCOMPARE(info.ui->buttonBox->standardButtons(), QDialogButtonBox::Ok);
        QVERIFY(info.ui->buttonBox->centerButtons());
        QVERIFY(info.ui->tePartInfo->isReadOnly());
        const QStringList labels{"Vendor:", "Version:", "Date:", "Adapter:", "MAC Address:", "IP Address:",
                                 "Subnet Mask:", "Model:", "Partition Table:", "Disk Flags"};
        for (const QString &text : labels) {
            bool found = false;
            for (QLabel *label : info.findChildren<QLabel *>())
                found = found || label->text() == text;
            QVERIFY2(found, qPrintable(text));
        }
        for (QLineEdit *field : info.findChildren<QLineEdit *>())
            QVERIFY2(field->isReadOnly(), qPrintable(field->objectName()));
        QCOMPARE(info.findChildren<QLineEdit *>().size(), 12);
    }

    // Only the service password itself opens the terminal: no other letter case, no blank around.
    void wrongPasswordOpensNothing_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("withReturn");
        QTest::newRow("capital") << "Quindrel" << true;
        QTest::newRow("upper case") << "QUINDREL" << false;
        QTest::newRow("blank before") << " quindrel" << false;
        QTest::newRow("blank after") << "quindrel " << true;
        QTest::newRow("empty") << "" << false;
    }

    void wrongPasswordOpensNothing()
    {
        QFETCH(QString, password);
        QFETCH(bool, withReturn);
        QFile::remove("/var/log/pxe_client.log");
        QCOMPARE(openTerminal(password, withReturn), 1);
        QVERIFY(!console->isBusy);
        QVERIFY(console->ui->frmMenu->isEnabled());
        // Nothing about the attempt beyond the request itself.
        QCOMPARE(mainLog(), QString("runQterminal \n"));
    }

    // The right password (with Return) opens the terminal over the client area with the shell
    // SHELL names and its one option, in "/"; what is typed runs there; "exit" closes it all.
    void terminalRunsTheShellAndExitCloses()
    {
        qputenv("SHELL", "/bin/bash   --norc");
        QFile::remove(TYPED_FILE);
        qint64 shellPid = 0;
        QString commandLine, directory;
        QRect geometry;
        bool busyWhileOpen = false;
        bool typedFileAppeared = false;
        const int taken = openTerminal("quindrel", true, [&](QWidget *modal) {
            auto *terminal = qobject_cast<TerminalWidget *>(modal);
            QVERIFY(terminal);
            geometry = terminal->geometry();
            busyWhileOpen = console->isBusy && !console->ui->frmMenu->isEnabled();
            shellPid = terminal->termWidget->getShellPID();
            QVERIFY(shellPid > 0);
            commandLine = QString::fromLocal8Bit(Sandbox::readFile(QStringLiteral("/proc/%1/cmdline").arg(shellPid)).replace('\0', '|'));
            directory = QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(shellPid));
            saveShot(terminal, "console-terminal.png");
            typeLine(terminal->termWidget, "touch " + TYPED_FILE);
            typedFileAppeared = waitFor([] { return QFile::exists(TYPED_FILE); }, 10000);
            typeLine(terminal->termWidget, "exit");
        });
        QCOMPARE(taken, 2);
        QCOMPARE(commandLine, QString("/bin/bash|--norc|"));
        QCOMPARE(directory, QString("/"));
        QCOMPARE(geometry, QRect(25, 25, 974, 718));
        QVERIFY(busyWhileOpen);
        QVERIFY(typedFileAppeared);
        // Returning from the click means the window closed when the shell ended.
        QVERIFY(waitFor([&] { return processGone(shellPid); }, 5000));
        QVERIFY(!console->isBusy);
        QVERIFY(console->ui->frmMenu->isEnabled());
        // The service password opened the terminal and appears in no log.
        for (const char *log : {"/var/log/pxe_client.log", "/tmp/pxe-gui.log", "/tmp/client_progress.log"})
            QVERIFY2(!Sandbox::readFile(log).contains("quindrel"), log);
        QVERIFY(console->ui->frmMenu->isVisible());
        QVERIFY(mainLog().contains("Shell program: /bin/bash   --norc \n"));
        QVERIFY(mainLog().contains("/bin/bash, --norc \n"));
    }

    // Close while the shell still runs hangs it up: no shell is left on the unit, although the
    // window itself still exists.
    void closeEndsARunningShell()
    {
        qputenv("SHELL", "/bin/sh");
        TerminalWidget terminal;
        terminal.show();
        const qint64 shellPid = terminal.termWidget->getShellPID();
        QVERIFY(shellPid > 0);
        QVERIFY(!processGone(shellPid));
        // A job in the foreground, as a technician would leave it.
        typeLine(terminal.termWidget, "sleep 600.25");
        QVERIFY(waitFor([&] { return Sandbox::sh("pgrep -x -P " + QString::number(shellPid) + " sleep").exitCode == 0; }));
        terminal.ui->buttonBox->button(QDialogButtonBox::Close)->click();
        QVERIFY(!terminal.isVisible());
        QVERIFY(waitFor([&] { return processGone(shellPid); }, 5000));
        // pgrep's "nothing found" is its status 1; the odd length keeps other tests' sleeps apart.
        QVERIFY(waitFor([] { return Sandbox::sh("pgrep -fx 'sleep 600.25'").exitCode == 1; }, 5000));
    }

    // The shipped getmac names the unit by its adapter (here the veth end called eth0): twelve
    // lower-case hex digits, usable as a folder name; an adapter named in /tmp/eth that does not
    // exist falls back to the first adapter with a hardware address.
    void getmacReadsTheAdapter()
    {
        // /sys shows the network of whoever mounted it: getmac runs with a sysfs of this test's
        // own network namespace (in a mount namespace of its own, so nothing else changes).
        const QString getmac = "unshare --mount --propagation private sh -c 'mount -t sysfs sysfs /sys && exec \"$0\"' " +
                               Sandbox::binDir() + "/getmac";
        QFile::remove("/tmp/eth");
        QCOMPARE(Sandbox::sh(getmac).out, QByteArray("02005e100015\n"));
        Sandbox::writeFile("/tmp/eth", "wlan7\n");
        const Sandbox::Result fallback = Sandbox::sh(getmac);
        QFile::remove("/tmp/eth");
        // The adapters in name order: eth0 comes first.
        QCOMPARE(fallback.out, QByteArray("02005e100015\n"));
    }

    void systemInformation_data()
    {
        QTest::addColumn<bool>("withDrive");
        QTest::newRow("system drive") << true;
        QTest::newRow("no system drive") << false;
    }

    // Firmware fields show the first line of dmidecode; drive and network fields come fresh
    // from the drive and the adapter; the window opens also without a drive.
    void systemInformation()
    {
        QFETCH(bool, withDrive);
        std::unique_ptr<VirtualDrive> drive;
        if (withDrive) {
            drive.reset(new VirtualDrive("sysinfo", "64M"));
            const QStringList table{"-n", "1:2048:+16M", "-t", "1:8300", "-c", "1:alpha",
                                    "-n", "2:0:+8M", "-t", "2:8200", "-c", "2:beta"};
            QVERIFY(drive->makeGpt(table));
            QVERIFY(drive->setAsSystemDrive());
        } else {
            Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
        }
        QFile::remove("/tmp/dmidecode-calls");
        QMap<QString, QString> fields;
        QString diskLabel, partitions;
        QSize maximum;
        DialogDriver steps({[&](QWidget *modal) {
            auto *info = qobject_cast<SystemInfo *>(modal);
            QVERIFY(info);
            for (QLineEdit *field : info->findChildren<QLineEdit *>())
                fields.insert(field->objectName(), field->text());
            diskLabel = info->ui->lblSysDriveDisk->text();
            partitions = info->ui->tePartInfo->toPlainText();
            maximum = info->maximumSize();
            if (withDrive)
                saveShot(info, "console-sysinfo.png");
            info->ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        }});
        console->on_pbSysInfo_clicked();
        QCOMPARE(steps.taken(), 1);
        QVERIFY(console->ui->frmMenu->isEnabled());
        QCOMPARE(maximum, QSize(1024, 768));
        // (The main window's own timer may ask dmidecode other things meanwhile.)
        QCOMPARE(QString(Sandbox::readFile("/tmp/dmidecode-calls")).split('\n').filter("bios-"),
                 QStringList({"-s bios-vendor", "-s bios-version", "-s bios-release-date"}));
        QCOMPARE(fields.value("leBiosVendor"), QString("Vemra Firmware Ltd"));
        QCOMPARE(fields.value("leBiosVersion"), QString("V7.02.15"));
        QCOMPARE(fields.value("leBiosDate"), QString("03/14/2024"));
        QCOMPARE(fields.value("leNetworkAdapter"), QString("eth0"));
        QCOMPARE(fields.value("leNetworkMac"), QString("02:00:5e:10:00:15"));
        QCOMPARE(fields.value("leNetworkIp"), QString("10.77.0.15"));
        QCOMPARE(fields.value("leNetworkMask"), QString("255.255.255.0"));
        if (withDrive) {
            QCOMPARE(diskLabel, "Disk " + drive->device());
            QCOMPARE(fields.value("leSysDriveModel"), QString("Loopback device (loopback)"));
            QCOMPARE(fields.value("leSysDriveDiskSize"), QString("67.1MB"));
            QCOMPARE(fields.value("leSysDriveSectorSize"), QString("512"));
            QCOMPARE(fields.value("leSysDrivePartTbl"), QString("gpt"));
            QCOMPARE(fields.value("leSysDriveFlags"), QString());
            QRegularExpression alpha("^ 1 +1049kB +17\\.8MB +16\\.8MB +alpha", QRegularExpression::MultilineOption);
            QRegularExpression beta("^ 2 +17\\.8MB +26\\.2MB +8389kB +beta", QRegularExpression::MultilineOption);
            QVERIFY2(partitions.contains(alpha) && partitions.contains(beta), qPrintable(partitions));
            QVERIFY(partitions.contains("Number  Start"));
        } else {
            QCOMPARE(diskLabel, QString("Disk "));
            for (const char *name : {"leSysDriveModel", "leSysDriveDiskSize", "leSysDriveSectorSize",
                                     "leSysDrivePartTbl", "leSysDriveFlags"})
                QCOMPARE(fields.value(name), QString());
            QCOMPARE(partitions, QString());
        }
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\nexit 0\n");
    }
};

int main(int argc, char *argv[])
{
    return runOnPrivateXServer<TestServiceTerminal>(argc, argv, ":71");
}

#include "tst_serviceterminal.moc"
