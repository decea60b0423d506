// The pxeswitch program as a technician or a script runs it, against firmware test doubles:
// handler selection, option precedence, log levels, the Insyde and AMI switches end to end, the
// firmware tool lock between real processes, and the LAN boot scripts built on it.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "firmware.h"
#include "fixtures.h"

class TestPxeSwitch : public QObject
{
    Q_OBJECT

private:
    static QString csvState(const QString &name)
    {
        return Firmware::insydeValue(name, QString("<no %1>").arg(name));
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Firmware::reset();
        QVERIFY(Firmware::install());
    }

    void init()
    {
        Firmware::reset();
        Firmware::setUnit("t740");
    }

    // Which handler answers, by product name, platform file and tool answers.
    void handlerSelection_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("platform");   // null: no platform file
        QTest::addColumn<QString>("ami");        // "export", "silent", "absent"
        QTest::addColumn<QString>("insyde");     // "ok", "warning", "absent"
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("lastLine");

        const QString five = "bbMfgr:  Vemra Board Works";
        QTest::newRow("AMI platform, readable export") << "4830kVRR" << QString() << "export" << "ok"
                                                       << "SceLnx" << "PXE state:  Disabled";
        QTest::newRow("AMI platform, export unreadable") << "4830kVRR" << QString() << "silent" << "ok"
                                                         << "Insyde h2ouve" << five;
        QTest::newRow("AMI platform, tool missing") << "4830kVRR" << QString() << "absent" << "ok"
                                                    << "Insyde h2ouve" << five;
        QTest::newRow("AMI tool on another product") << "t740" << QString() << "export" << "ok"
                                                     << "Insyde h2ouve" << five;
        QTest::newRow("VMware, no platform file") << "VMware Virtual Platform" << QString() << "absent" << "ok"
                                                  << "VMware" << "PXE state:  Unknown";
        QTest::newRow("VMware, empty platform file") << "VMware Virtual Platform" << "" << "absent" << "ok"
                                                     << "VMware" << "PXE state:  Unknown";
        QTest::newRow("VMware, platform file vmware in any case") << "VMware7,1" << "VmWare-esx\nother\n"
                                                                  << "absent" << "ok" << "VMware"
                                                                  << "PXE state:  Unknown";
        QTest::newRow("VMware, platform file names another platform") << "VMware Virtual Platform" << "t740\n"
                                                                      << "absent" << "ok" << "Insyde h2ouve"
                                                                      << five;
        QTest::newRow("vmware product in lower case is not VMware") << "vmware" << QString() << "absent"
                                                                   << "ok" << "Insyde h2ouve" << five;
        QTest::newRow("Insyde tool rejects the firmware") << "t740" << QString() << "absent" << "warning"
                                                          << "UNKNOWN" << "PXE state:  Unknown";
        QTest::newRow("Insyde tool absent") << "t740" << QString() << "absent" << "absent"
                                            << "Insyde h2ouve" << five;
        QTest::newRow("VMware refused, Insyde refused") << "VMware Virtual Platform" << "t640\n" << "absent"
                                                        << "warning" << "UNKNOWN" << "PXE state:  Unknown";
    }
    void handlerSelection()
    {
        QFETCH(QString, product);
        QFETCH(QString, platform);
        QFETCH(QString, ami);
        QFETCH(QString, insyde);
        QFETCH(QString, handler);
        QFETCH(QString, lastLine);

        Firmware::setUnit(product);
        Firmware::setPlatformFile(platform);
        if (ami != "absent")
            Firmware::setAmi(fixtures::amiExport(false));
        if (ami == "silent")
            Firmware::setAmiFlag("no_export");
        if (insyde != "absent")
            Firmware::setInsyde(fixtures::insydeUefiOff());
        if (insyde == "warning")
            Firmware::setInsydeFlag("ifrpkg");

        const Sandbox::Result r = Firmware::pxeswitch({});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = Firmware::stdoutLines(r);
        QVERIFY2(!lines.isEmpty(), r.out.constData());
        // The AMI probe raises the log level while it runs; what it logs comes first.
        const int first = lines.indexOf(QRegularExpression("^PXE Handler: .*"));
        QVERIFY2(first >= 0, r.out.constData());
        QCOMPARE(lines.at(first), "PXE Handler: " + handler);
        QCOMPARE(lines.at(first + 1), "Product: " + product);
        QCOMPARE(lines.at(first + 2), QString("BIOS:    L43 v01.10"));
        QCOMPARE(lines.at(first + 3), QString("SysMfgr: Vemra"));
        QCOMPARE(lines.at(first + 4), QString("bbMfgr:  Vemra Board Works"));
        QCOMPARE(lines.last(), lastLine);
        QCOMPARE(lines.size() - first, lastLine.startsWith("PXE state:") ? 6 : 5);
    }

    // The VMware test reads the platform file first and asks dmidecode only when it names nothing.
    void vmwarePlatformFileDecidesAlone()
    {
        Firmware::setUnit("VMware Virtual Platform");
        Firmware::setPlatformFile("vmware\n");
        QCOMPARE(Firmware::pxeswitch({"-l", "0"}).exitCode, 0);
        QCOMPARE(Firmware::countCalls("dmidecode -s system-product-name"), 1);

        Firmware::clearCalls();
        Firmware::setPlatformFile(QString());
        QCOMPARE(Firmware::pxeswitch({"-l", "0"}).exitCode, 0);
        QCOMPARE(Firmware::countCalls("dmidecode -s system-product-name"), 2);
    }

    void silentDmidecodeGivesEmptyValues()
    {
        QFile::remove(Firmware::dir() + "/dmi/system-product-name");
        QFile::remove(Firmware::dir() + "/dmi/bios-version");
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Firmware::setInsydeFlag("ifrpkg");
        const QStringList lines = Firmware::stdoutLines(Firmware::pxeswitch({}));
        QCOMPARE(lines, QStringList({"PXE Handler: UNKNOWN", "Product: ", "BIOS:    ", "SysMfgr: Vemra",
                                     "bbMfgr:  Vemra Board Works", "PXE state:  Unknown"}));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString());
    }

    void helpAndVersion()
    {
        const Sandbox::Result version = Firmware::pxeswitch({"--version"});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.contains("3.0.0"), version.out.constData());
        const Sandbox::Result help = Firmware::pxeswitch({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char *text : {"Pxeswitch Utility", "Disable PXE", "Enable PXE", "Current PXE State",
                                 "Query PXE info", "Initialize PXE info", "Debug Log Level", "<level>",
                                 "Launch using GUI", "test mode"})
            QVERIFY2(help.out.contains(text), text);
        const Sandbox::Result bad = Firmware::pxeswitch({"--frobnicate"});
        QVERIFY(bad.exitCode != 0);
        QVERIFY(bad.err.contains("frobnicate"));
    }

    // Disable wins over enable, enable over state, state over query; -l and -i alone print nothing.
    void optionPrecedence_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("output");
        QTest::addColumn<QString>("networkStackAfter");

        const QStringList report = {"PXE Handler: Insyde h2ouve", "Product: t740", "BIOS:    L43 v01.10",
                                    "SysMfgr: Vemra", "bbMfgr:  Vemra Board Works"};
        QTest::newRow("-d -e disables") << QStringList{"-d", "-e"} << QStringList{"PXE state = disabled"} << "Disabled";
        QTest::newRow("-e -d disables") << QStringList{"-e", "-d"} << QStringList{"PXE state = disabled"} << "Disabled";
        QTest::newRow("-e -s enables") << QStringList{"-s", "-e"} << QStringList{"PXE state = enabled"} << "Enabled";
        QTest::newRow("-s -q prints the state") << QStringList{"-q", "-s"} << QStringList{"enabled"} << "Enabled";
        QTest::newRow("-q prints the report") << QStringList{"-q"} << report << "Enabled";
        QTest::newRow("no option prints the report") << QStringList{} << report << "Enabled";
        QTest::newRow("-l alone prints nothing") << QStringList{"-l", "1"} << QStringList{} << "Enabled";
        QTest::newRow("-i alone prints nothing") << QStringList{"-i"} << QStringList{} << "Enabled";
        QTest::newRow("-l -i print nothing") << QStringList{"-i", "-l", "0"} << QStringList{} << "Enabled";
    }
    void optionPrecedence()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, output);
        QFETCH(QString, networkStackAfter);

        QStringList rows = fixtures::insydeUefiOff();
        rows[1].replace("Network Stack,Disabled", "Network Stack,Enabled");
        Firmware::setInsyde(rows);
        const Sandbox::Result r = Firmware::pxeswitch(args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Firmware::stdoutLines(r), output);
        QCOMPARE(csvState("Network Stack"), networkStackAfter);
        QCOMPARE(Firmware::countCalls("h2ouve-l.real"), networkStackAfter == "Enabled" && !args.contains("-e") ? 0 : 1);
    }

    // -i reads the firmware again although a cached export exists.
    void initForcesFreshRead()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});
        QStringList rows = fixtures::insydeUefiOff();
        rows[1].replace("Network Stack,Disabled", "Network Stack,Enabled");
        Firmware::setInsyde(rows);
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});   // cache
        Firmware::clearCalls();
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-i"})), QStringList{});
        QCOMPARE(Firmware::countCalls("h2ouve-l -mmio -gs /tmp/get-bios-info.csv -all -csv"), 1);
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"enabled"});
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("enabled\n"));
    }

    // -l sets how much is logged; every logged line goes to the terminal and to the log file.
    void logLevels_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        const QString l1 = "Current PXE = 0";
        const QString l2 = "start H2ouveHandler::GetBiosInfo";
        const QString l3 = "H2ouveHandler::ReInit ";
        QTest::newRow("0") << "0" << QStringList{} << QStringList{l1, l2, l3};
        QTest::newRow("1") << "1" << QStringList{} << QStringList{l1, l2, l3};
        QTest::newRow("2") << "2" << QStringList{l1} << QStringList{l2, l3};
        QTest::newRow("3") << "3" << QStringList{l1, l2} << QStringList{l3};
        QTest::newRow("4") << "4" << QStringList{l1, l2, l3} << QStringList{};
        QTest::newRow("7") << "7" << QStringList{l1, l2, l3} << QStringList{};
        QTest::newRow("unparsable") << "x" << QStringList{} << QStringList{l1, l2, l3};
    }
    void logLevels()
    {
        QFETCH(QString, level);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);

        Firmware::setInsyde(fixtures::insydeUefiOff());
        QCOMPARE(Firmware::pxeswitch({"-s"}).exitCode, 0);   // the first read, before logging is set
        QFile::remove("/tmp/BiosHandler.log");

        const Sandbox::Result r = Firmware::pxeswitch({"-l", level, "-q"});
        QCOMPARE(r.exitCode, 0);
        QStringList lines = Firmware::stdoutLines(r);
        QVERIFY(lines.size() >= 5);
        const QStringList report = lines.mid(lines.size() - 5);
        QCOMPARE(report.first(), QString("PXE Handler: Insyde h2ouve"));
        const QStringList logged = lines.mid(0, lines.size() - 5);
        for (const QString &text : present)
            QVERIFY2(logged.contains(text), qPrintable(text));
        for (const QString &text : absent)
            QVERIFY2(!logged.contains(text), qPrintable(text));
        // The log file holds exactly what was logged on the terminal, and not the report.
        QStringList fileLines = Firmware::readText("/tmp/BiosHandler.log").split("\n");
        fileLines.removeLast();
        QCOMPARE(fileLines, logged);
    }

    void levelFourAlonePrintsNothing()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        const Sandbox::Result r = Firmware::pxeswitch({"-l", "4"});
        QCOMPARE(Firmware::stdoutLines(r), QStringList{});
        QVERIFY(!QFile::exists("/tmp/BiosHandler.log"));
    }

    // The state word and the state file, from every combination of questions.
    void insydeStateDerivation_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("state");

        const QString bootUefi = "*,1,A,1,O,Boot Type,UEFI Boot Type,\"UEFI Boot Type,Legacy Boot Type\"";
        const QString bootLegacy = "*,1,A,1,O,Boot Type,Legacy Boot Type,\"UEFI Boot Type,Legacy Boot Type\"";
        const QString nsOn = "*,2,A,2,O,Network Stack,Enabled,\"Disabled,Enabled\"";
        const QString nsOff = "*,2,A,2,O,Network Stack,Disabled,\"Disabled,Enabled\"";
        const QString pxeOn = "*,3,A,3,O,PXE Boot to LAN,Enabled,\"Disabled,Enabled\"";
        const QString pxeOff = "*,3,A,3,O,PXE Boot to LAN,Disabled,\"Disabled,Enabled\"";
        const QString pxeIpv4 = "*,3,A,3,O,PXE Boot to LAN,UEFI:IPv4,\"Disabled,UEFI:IPv4\"";

        QTest::newRow("network stack on") << QStringList{bootUefi, nsOn} << "enabled";
        QTest::newRow("network stack off") << QStringList{nsOff} << "disabled";
        QTest::newRow("network stack wins over PXE boot") << QStringList{nsOff, pxeOn} << "disabled";
        QTest::newRow("network stack on, PXE boot off") << QStringList{nsOn, pxeOff} << "enabled";
        QTest::newRow("PXE boot off alone") << QStringList{pxeOff} << "disabled";
        QTest::newRow("PXE boot on alone") << QStringList{pxeOn} << "enabled";
        QTest::newRow("PXE boot to LAN alone is the network question") << QStringList{pxeIpv4} << "uefi:ipv4";
        QTest::newRow("PXE capability IPv4 counts as on")
            << QStringList{"*,4,A,4,O,PXE Boot capability,UEFI:IPv4,\"Disabled,UEFI:IPv4\""} << "enabled";
        QTest::newRow("first PXE question decides")
            << QStringList{pxeOff, "*,4,A,4,O,PXE Boot capability,Enabled,\"Disabled,Enabled\""} << "disabled";
        QTest::newRow("PXE capability by prefix")
            << QStringList{"*,4,A,4,O,PXE Boot capability IPv6,UEFI:IPv6,\"Disabled,UEFI:IPv6\""} << "enabled";
        QTest::newRow("onboard LAN boot ROM is a network question")
            << QStringList{"*,5,A,5,O,Onboard LAN Boot ROM,Disabled,\"Disabled,Enabled\"", pxeOn} << "disabled";
        QTest::newRow("legacy boot before the network stack ignores it")
            << QStringList{bootLegacy, nsOn, pxeOff} << "disabled";
        QTest::newRow("legacy boot after the network stack: this pass still uses it")
            << QStringList{nsOn, pxeOff, bootLegacy} << "enabled";
        QTest::newRow("other network stack value") << QStringList{"*,2,A,2,O,Network Stack,Auto,\"Auto,Disabled\""}
                                                   << "auto";
        QTest::newRow("no network question") << QStringList{bootUefi} << "unknown";
        QTest::newRow("short and foreign lines ignored")
            << QStringList{"*,2,A,2,O,Network Stack", "#,2,A,2,O,Network Stack,Enabled,\"Disabled,Enabled\"",
                           " *,2,A,2,O,Network Stack,Enabled"} << "unknown";
    }
    void insydeStateDerivation()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, state);
        Firmware::setInsyde(rows);
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{state});
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), state + "\n");
    }

    void insydeReadFailures()
    {
        // Password-protected setup: the read is retried once with the setup password.
        Firmware::setInsyde(fixtures::insydeUefiOff(), false);
        Firmware::setInsydeFlag("password", "47QXR");
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});
        QCOMPARE(Firmware::calls().filter("-gs").mid(0, 2),
                 QStringList({"h2ouve-l -gs /tmp/get-bios-info.csv -all -csv",
                              "h2ouve-l -gs /tmp/get-bios-info.csv -all -csv -pw 47QXR"}));
        QCOMPARE(Firmware::readText("/tmp/new-biosinfo.txt"),
                 QString("Boot Type: UEFI Boot Type\nNetwork Stack: Disabled\nPXE Boot to LAN: Disabled\n"
                         "Secure Boot: Disabled\n"));

        // "Process returned": the read is abandoned with an error on the terminal.
        Firmware::reset();
        Firmware::setUnit("t740");
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Firmware::setInsydeFlag("fail_read");
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})),
                 QStringList({"ERROR: invalid response to h2ouve-l -mmio -gs /tmp/get-bios-info.csv -all -csv",
                              "unknown"}));
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));

        // No tool at all: no settings, the state is unknown and PXE counts as off.
        Firmware::removeInsyde();
        QFile::remove(Firmware::dir() + "/h2o/fail_read");
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"unknown"});
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("unknown\n"));
    }

    // The generated write script, letter for letter, and what it does to the firmware.
    void insydeScript_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("mmio");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("state");

        const QString head = "#!/bin/bash\n\nmodprobe phy_alloc\n\n";
        QTest::newRow("UEFI on, mmio") << fixtures::insydeUefiOff() << true << "-e"
                                       << head + "h2ouve-l.real -mmio -ms -fi 'Network Stack' -op 'Enabled' "
                                                 "-fi 'PXE Boot to LAN' -op 'UEFI:IPv4'\n" << "enabled";
        QStringList on = fixtures::insydeUefiOff();
        on[1].replace(",Disabled,", ",Enabled,");
        on[2].replace(",Disabled,", ",UEFI:IPv4,");
        QTest::newRow("off, no mmio") << on << false << "-d"
                                      << head + "h2ouve-l.real -ms -fi 'Network Stack' -op 'Disabled' "
                                                "-fi 'PXE Boot to LAN' -op 'Disabled'\n" << "disabled";
        const QStringList legacy = {
            "*,1,A,1,O,Boot Type,Legacy Boot Type,\"UEFI Boot Type,Legacy Boot Type\"",
            "*,2,A,2,O,Network Stack,Disabled,\"Disabled,Enabled\"",
            "*,3,A,3,O,PXE Boot to LAN,Disabled,\"Disabled,Enabled\"",
            "*,4,A,4,O,PXE Boot capability,Disabled,\"Disabled,Legacy,UEFI:IPv4\"",
        };
        QTest::newRow("legacy on: Legacy where offered, else Enabled")
            << legacy << true << "-e"
            << head + "h2ouve-l.real -mmio -ms -fi 'PXE Boot to LAN' -op 'Enabled' "
                      "-fi 'PXE Boot capability' -op 'Legacy'\n" << "enabled";
        QTest::newRow("a name holding a quote stays one argument")
            << QStringList{"*,3,A,3,O,PXE Boot to LAN's $(touch /tmp/owned),Disabled,\"Disabled,Enabled\""} << true << "-e"
            << head + "h2ouve-l.real -mmio -ms -fi 'PXE Boot to LAN'\\''s $(touch /tmp/owned)' -op 'Enabled'\n"
            << "enabled";
        QTest::newRow("network stack only") << QStringList{"*,2,A,2,O,Network Stack,Disabled,\"Disabled,Enabled\""}
                                            << true << "-e"
                                            << head + "h2ouve-l.real -mmio -ms -fi 'Network Stack' -op 'Enabled'\n"
                                            << "enabled";
    }
    void insydeScript()
    {
        QFETCH(QStringList, rows);
        QFETCH(bool, mmio);
        QFETCH(QString, option);
        QFETCH(QString, script);
        QFETCH(QString, state);

        Firmware::setInsyde(rows, mmio);
        const Sandbox::Result r = Firmware::pxeswitch({option});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Firmware::readText("/tmp/.pxe-settings.sh"), script);
        QCOMPARE(Firmware::stdoutLines(r), QStringList{"PXE state = " + state});
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), state + "\n");
        // The write ran under the lock, after the module was loaded, and was followed by a fresh read.
        const QStringList calls = Firmware::calls();
        const int write = calls.indexOf(QRegularExpression("^h2ouve-l.real .*"));
        QVERIFY(write > 0);
        QCOMPARE(calls.at(write - 1), QString("modprobe phy_alloc"));
        QCOMPARE(calls.at(write + 1), QString("write lock=held"));
        QVERIFY(calls.mid(write).filter("-gs /tmp/get-bios-info.csv").size() == 1);
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));
        QVERIFY(!QFile::exists("/tmp/owned"));
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{state});
    }

    void insydeEnableDisableRoundTrip()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-e"})), QStringList{"PXE state = enabled"});
        QCOMPARE(csvState("Network Stack"), QString("Enabled"));
        QCOMPARE(csvState("PXE Boot to LAN"), QString("UEFI:IPv4"));
        QCOMPARE(csvState("Secure Boot"), QString("Disabled"));
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"enabled"});
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-d"})), QStringList{"PXE state = disabled"});
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
        QCOMPARE(csvState("PXE Boot to LAN"), QString("Disabled"));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("disabled\n"));
        QCOMPARE(Firmware::countCalls("h2ouve-l.real"), 2);
    }

    // A write the tool does not confirm leaves the firmware's real state in place.
    void insydeWriteNotConfirmed()
    {
        Firmware::setInsyde({"*,2,A,2,O,Network Stack,Disabled,\"Disabled,On\""});
        const Sandbox::Result r = Firmware::pxeswitch({"-l", "3", "-e"});
        QVERIFY2(r.out.contains("Update SCU failed"), r.out.constData());
        QCOMPARE(Firmware::stdoutLines(r).last(), QString("PXE state = disabled"));
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("disabled\n"));
    }

    // AMI: the import file, letter for letter, and the switch in both directions.
    void amiEnableDisable()
    {
        Firmware::setUnit("4830kVRR");
        Firmware::setAmi(fixtures::amiExport(false));
        Firmware::setAmiFlag("password", "47QXR");

        Sandbox::Result r = Firmware::pxeswitch({"-e"});
        QCOMPARE(r.exitCode, 0);
        const QString importOn = QString(fixtures::amiHeader()) + "\n\n"
                                 + "Setup Question\t= Network Stack\n"
                                   "Help String\t= Enable/Disable UEFI Network Stack\n"
                                   "Token\t=0x10\n"
                                   "Offset\t=0x2B\n"
                                   "Width\t=01\n"
                                   "Bios Default\t=[00]Disabled\n"
                                   "Options\t=[00]Disabled\n"
                                   "\t*[01]Enabled\n";
        QCOMPARE(Firmware::readText("/tmp/scelnx_out.txt"), importOn);
        QVERIFY(Firmware::calls().contains("SCELNX_64 /i /s /tmp/scelnx_out.txt /hb /q /cpwd 47QXR"));
        QVERIFY(Firmware::calls().contains("import lock=held"));
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(true));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("Enabled\n"));
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));
        // The successful import was followed by a fresh export.
        QCOMPARE(Firmware::readText("/tmp/scelnx_in.txt"), fixtures::amiExport(true));
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})).last(), QString("Enabled"));

        r = Firmware::pxeswitch({"-d"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(Firmware::readText("/tmp/scelnx_out.txt").endsWith("Options\t=*[00]Disabled\n\t[01]Enabled\n"));
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(false));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("Disabled\n"));
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})).last(), QString("Disabled"));
    }

    void amiImportRefused()
    {
        Firmware::setUnit("4830kVRR");
        Firmware::setAmi(fixtures::amiExport(false));
        Firmware::setAmiFlag("fail_import");
        QCOMPARE(Firmware::pxeswitch({"-e"}).exitCode, 0);
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(false));
        QVERIFY(!QFile::exists("/var/hardware/pxe_state"));
        QCOMPARE(Firmware::countCalls("SCELNX_64 /o"), 1);   // no fresh export after a failed import
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})).last(), QString("Disabled"));
    }

    // An import that outlives the 30-second wait: the lock stays held until the tool has ended,
    // and the tool, still reporting, finishes its write instead of dying on a closed pipe.
    void amiSlowImportKeepsTheLock()
    {
        Firmware::setUnit("4830kVRR");
        Firmware::setAmi(fixtures::amiExport(false));
        Firmware::setAmiFlag("import_delay", "33");
        const Sandbox::Result r = Firmware::pxeswitch({"-e"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(Firmware::calls().contains("import end lock=held"), qPrintable(Firmware::calls().join('\n')));
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(true));
        QCOMPARE(Firmware::readText("/var/hardware/pxe_state"), QString("Enabled\n"));
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));
    }

    // A tool that waits on its standard input before it writes gets none (it is not a terminal):
    // it goes on at once, instead of holding the firmware lock until the unit reboots.
    void amiImportThatReadsInputGoesOn()
    {
        Firmware::setUnit("4830kVRR");
        Firmware::setAmi(fixtures::amiExport(false));
        Firmware::setAmiFlag("import_asks");
        const Sandbox::Result r = Firmware::pxeswitch({"-e"}, 20000);
        QVERIFY(!r.timedOut);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(Firmware::calls().contains("import asked"), qPrintable(Firmware::calls().join('\n')));
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(true));
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));
    }

    // A lock file that cannot be made at all (a read-only /var/lock) is no lock to wait for.
    void lockFileCannotBeCreated()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});
        QCOMPARE(Sandbox::sh("mount -o remount,ro /var/lock").exitCode, 0);
        Firmware::clearCalls();
        QElapsedTimer timer;
        timer.start();
        const Sandbox::Result r = Firmware::pxeswitch({"-e"});
        const qint64 waited = timer.elapsed();
        QCOMPARE(Sandbox::sh("mount -o remount,rw /var/lock").exitCode, 0);
        QCOMPARE(Firmware::stdoutLines(r),
                 QStringList({"abort GetLock -- can't create /var/lock/BiosHandler.lck: Read-only file system",
                              "PXE state = disabled"}));
        QVERIFY2(waited < 10000, qPrintable(QString::number(waited)));
        QCOMPARE(Firmware::countCalls("h2ouve-l.real"), 0);
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
    }

    // A lock held by another process: a read from the cache goes on, a write waits and gives up.
    void lockHeldByAnotherProcess()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});
        QVERIFY(Sandbox::writeFile("/var/lock/BiosHandler.lck", QByteArray()));
        Firmware::clearCalls();

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(Firmware::stdoutLines(Firmware::pxeswitch({"-s"})), QStringList{"disabled"});
        QVERIFY(timer.elapsed() < 10000);

        timer.restart();
        const Sandbox::Result r = Firmware::pxeswitch({"-e"});
        const qint64 waited = timer.elapsed();
        QCOMPARE(Firmware::stdoutLines(r),
                 QStringList({"abort GetLock -- can't get lock", "PXE state = disabled"}));
        QVERIFY2(waited > 44000 && waited < 70000, qPrintable(QString::number(waited)));
        QCOMPARE(Firmware::countCalls("h2ouve-l.real"), 0);
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
        QVERIFY(QFile::exists("/var/lock/BiosHandler.lck"));   // not ours to remove
        QCOMPARE(Firmware::readText("/tmp/BiosHandler.log"), QString("abort GetLock -- can't get lock\n"));
        QFile::remove("/var/lock/BiosHandler.lck");
    }

    // Several processes switching at once: the firmware writes never overlap, each runs locked.
    void concurrentSwitchesTakeTurns()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Firmware::setInsydeFlag("write_delay", "1");
        QList<QProcess *> runs;
        for (const char *option : {"-e", "-d", "-e"}) {
            auto *p = new QProcess(this);
            p->start(Sandbox::binDir() + "/pxeswitch", {QString(option)});
            runs.append(p);
        }
        for (QProcess *p : runs) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
        }
        qDeleteAll(runs);

        const QStringList calls = Firmware::calls();
        QCOMPARE(calls.filter("write lock=held").size(), 3);
        QCOMPARE(calls.filter("write lock=free").size(), 0);
        QCOMPARE(calls.filter("read lock=free").size(), 0);
        // begin/end pairs follow each other strictly. (A run may find nothing to write when it read
        // the cached export just as another run replaced it; its tool run is still locked.)
        const QStringList marks = calls.filter(QRegularExpression("^write (begin|end) "));
        QVERIFY(marks.size() >= 2 && marks.size() % 2 == 0);
        for (int i = 0; i < marks.size(); i += 2) {
            const QStringList b = marks.at(i).split(" ");
            const QStringList e = marks.at(i + 1).split(" ");
            QCOMPARE(b.at(1), QString("begin"));
            QCOMPARE(e.at(1), QString("end"));
            QCOMPARE(b.at(2), e.at(2));
        }
        QVERIFY(!QFile::exists("/var/lock/BiosHandler.lck"));
    }

    // The LAN boot scripts the console and the request daemon run.
    void serviceScripts()
    {
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Sandbox::Result r = Sandbox::run("get_pxeswitch.sh", {});
        QCOMPARE(QString::fromLatin1(r.out), QString("state: disabled\npxe: disabled\n"));
        QCOMPARE(r.exitCode, 0);

        r = Sandbox::run("set_pxeswitch.sh", {"-e"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.endsWith("pxe: enabled\n"));
        QCOMPARE(csvState("Network Stack"), QString("Enabled"));
        r = Sandbox::run("get_pxeswitch.sh", {});
        QCOMPARE(QString::fromLatin1(r.out), QString("state: enabled\npxe: enabled\n"));

        r = Sandbox::run("set_pxeswitch.sh", {"-d"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(csvState("Network Stack"), QString("Disabled"));
        QCOMPARE(QString::fromLatin1(Sandbox::run("get_pxeswitch.sh", {}).out), QString("state: disabled\npxe: disabled\n"));

        // A switch the firmware does not take is reported as a failure.
        Firmware::setInsyde({"*,2,A,2,O,Network Stack,Disabled,\"Disabled,On\""});
        QFile::remove("/tmp/get-bios-info.csv");
        r = Sandbox::run("set_pxeswitch.sh", {"-e"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.endsWith("pxe: disabled\n"));

        r = Sandbox::run("set_pxeswitch.sh", {"on"});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(Sandbox::run("set_pxeswitch.sh", {"--help"}).exitCode, 0);

        // AMI wording and an undetermined state.
        Firmware::reset();
        Firmware::setUnit("4830kVRR");
        Firmware::setAmi(fixtures::amiExport(true));
        QCOMPARE(QString::fromLatin1(Sandbox::run("get_pxeswitch.sh", {}).out), QString("state: enabled\npxe: enabled\n"));
        Firmware::reset();
        Firmware::setUnit("t740");
        Firmware::setInsyde(fixtures::insydeUefiOff());
        Firmware::setInsydeFlag("ifrpkg");
        r = Sandbox::run("get_pxeswitch.sh", {});
        QCOMPARE(QString::fromLatin1(r.out), QString("state: unknown\npxe: disabled\n"));
        QCOMPARE(r.exitCode, 1);
    }
};

QTEST_GUILESS_MAIN(TestPxeSwitch)
#include "tst_pxeswitch.moc"
