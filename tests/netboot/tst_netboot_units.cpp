// The LAN boot utility's classes in-process, inside the sandbox: the command runner and text
// files, log levels, the state file, the firmware tool lock between real processes, the Insyde
// CSV parser and settings passes, the AMI block parser and import file, and the EFI boot handler
// against the efibootmgr double.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include "efiboothandler.h"
#include "firmware.h"
#include "fixtures.h"
#include "h2ouvehandler.h"
#include "pxehandler.h"
#include "scedata.h"
#include "scehandler.h"
#include "utilities.h"

class TestNetbootUnits : public QObject
{
    Q_OBJECT

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
        Utilities::GetInstance()->setDebugLevel(0);
        Utilities::SetTestMode(false);
    }

    void debugLevels_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("threshold");
        QTest::newRow("0") << 0 << -1;
        QTest::newRow("1") << 1 << 0;
        QTest::newRow("2") << 2 << 1;
        QTest::newRow("3") << 3 << 2;
        QTest::newRow("4") << 4 << 3;
        QTest::newRow("5") << 5 << 99;
        QTest::newRow("7") << 7 << 99;
        QTest::newRow("-1") << -1 << 99;
    }
    void debugLevels()
    {
        QFETCH(int, level);
        QFETCH(int, threshold);
        Utilities::GetInstance()->setDebugLevel(level);
        QCOMPARE(Utilities::GetInstance()->DebugThreshold(), threshold);
    }

    void logFileFollowsThreshold()
    {
        Utilities *u = Utilities::GetInstance();
        u->setDebugLevel(0);
        u->LogMessage(1, "hidden one");
        u->LogMessage(0, "hidden zero");
        u->LogMessage(-1, "always");
        u->setDebugLevel(2);
        u->LogMessage(1, "shown one");
        u->LogMessage(2, "hidden two");
        QCOMPARE(Firmware::readText(dbugLog), QString("always\nshown one\n"));
    }

    void commandRunner()
    {
        Utilities *u = Utilities::GetInstance();
        QCOMPARE(u->ExecuteCmd("true", {}), QStringList{""});
        QCOMPARE(u->ExecuteCmd("/no/such/program", {}), QStringList{""});
        QCOMPARE(u->ExecuteCmd("sh", {"-c", "echo out; echo err >&2"}), QStringList({"out", "err", ""}));
        QCOMPARE(u->ExecuteCmdString("printf", {"ab\\000cd"}), QString("ab"));
        QCOMPARE(u->ExecuteCmdString("printf", {"caf\\351"}), QString::fromLatin1("caf\xe9"));
        Sandbox::writeDouble("showargs", "#!/bin/bash\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done\n");
        QCOMPARE(u->GetCommandResults("showargs a  b"), QString("[a][][b]"));
        QCOMPARE(u->GetCommandResults("showargs 'x y'"), QString("['x][y']"));
    }

    void textFiles()
    {
        Utilities *u = Utilities::GetInstance();
        QCOMPARE(u->ReadTextFile("/tmp/none.txt"), QStringList());
        QVERIFY(u->WriteTextFile("/tmp/t.txt", {"a", "b"}, false));
        QCOMPARE(Firmware::readText("/tmp/t.txt"), QString("a\nb\n"));
        QVERIFY(u->WriteTextFile("/tmp/t.txt", {"c"}, true));
        QCOMPARE(u->ReadTextFile("/tmp/t.txt"), QStringList({"a", "b", "c", ""}));
        QVERIFY(u->WriteTextFile("/tmp/t.txt", {"d"}, false));
        QCOMPARE(Firmware::readText("/tmp/t.txt"), QString("d\n"));
        QVERIFY(!u->WriteTextFile("/tmp/no/such/dir/t.txt", {"x"}, false));
    }

    void writePxeState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Enabled") << "Enabled" << true;
        QTest::newRow("enabled") << "enabled" << true;
        QTest::newRow("ENABLED") << "ENABLED" << true;
        QTest::newRow("trailing blank") << "enabled " << false;
        QTest::newRow("Disabled") << "Disabled" << false;
        QTest::newRow("unknown") << "unknown" << false;
    }
    void writePxeState()
    {
        QFETCH(QString, state);
        QFETCH(bool, enabled);
        PxeHandler handler;
        handler.WritePxeState(state);
        QCOMPARE(handler.GetPxeState(false), state);
        QCOMPARE(handler.IsPxeEnabled(), enabled);
        QCOMPARE(Firmware::readText(BIOS_STATE_FILE), state + "\n");
    }

    void writePxeStateUnwritable()
    {
        PxeHandler handler;
        handler.WritePxeState(true);
        QVERIFY(handler.IsPxeEnabled());
        QVERIFY(QFile::remove(BIOS_STATE_FILE));
        QVERIFY(QDir().mkdir(BIOS_STATE_FILE));   // a folder in the way: the file cannot be opened
        handler.WritePxeState(false);
        QCOMPARE(handler.GetPxeState(false), QString("Disabled"));
        QVERIFY(handler.IsPxeEnabled());
        QVERIFY(QDir().rmdir(BIOS_STATE_FILE));
    }

    // Processes that ask at the same instant, each slowed down whenever it looks the lock file up
    // by name: exactly one holds the lock at any time.
    void lockIsExclusiveBetweenProcesses()
    {
        const QString helper = QCoreApplication::applicationDirPath() + "/netboot_lockholder";
        const QString slow = QCoreApplication::applicationDirPath() + "/netboot_slowlookup.so";
        QVERIFY(QFile::exists(slow));
        const QString log = "/tmp/lock-events.log";
        const qint64 start = QDateTime::currentMSecsSinceEpoch() + 1500;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", slow);
        QList<QProcess *> holders;
        for (int i = 0; i < 5; ++i) {
            auto *p = new QProcess(this);
            p->setProcessEnvironment(env);
            p->start(helper, {QString::number(start), "300", log});
            QVERIFY(p->waitForStarted());
            holders.append(p);
        }
        for (QProcess *p : holders) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
        }
        qDeleteAll(holders);

        const QStringList events = Firmware::readText(log).split("\n", Qt::SkipEmptyParts);
        QCOMPARE(events.size(), 10);
        for (int i = 0; i < events.size(); i += 2) {
            const QStringList take = events.at(i).split(" ");
            const QStringList give = events.at(i + 1).split(" ");
            QCOMPARE(take.at(0), QString("acquired"));
            QCOMPARE(give.at(0), QString("released"));
            QCOMPARE(give.at(1), take.at(1));
        }
        QVERIFY(!QFile::exists(LOCK_FILE));
    }

    void lockReleaseLeavesNothing()
    {
        PxeHandler handler;
        QVERIFY(handler.GetLock());
        QVERIFY(QFile::exists(LOCK_FILE));
        QCOMPARE(QFileInfo(LOCK_FILE).size(), 0);
        QVERIFY(handler.ReleaseLock());
        QVERIFY(!QFile::exists(LOCK_FILE));
        QVERIFY(handler.ReleaseLock());
    }

    void insydeCsvLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("options");

        QTest::newRow("quoted list") << "*,0x1,Adv,0x2,OneOf,Network Stack,Enabled,\"Disabled,Enabled\"" << true
                                     << "Network Stack" << "Enabled" << QStringList{"Disabled", "Enabled"};
        QTest::newRow("capped at eight") << "*,a,b,c,d,Boot Order,1,\"1,2,3,4,5,6,7,8,9,10\"" << true << "Boot Order"
                                         << "1" << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"};
        QTest::newRow("unquoted last field") << "*,a,b,c,d,Q,v,Only" << true << "Q" << "v" << QStringList{"Only"};
        QTest::newRow("unquoted fields all taken") << "*,a,b,c,d,Q,v,One,Two,Three" << true << "Q" << "v"
                                                   << QStringList{"One", "Two", "Three"};
        QTest::newRow("closing quote ends the list") << "*,a,b,c,d,Q,v,\"A,B\",C" << true << "Q" << "v"
                                                     << QStringList{"A", "B"};
        QTest::newRow("single quoted option") << "*,a,b,c,d,Q,v,\"Solo\"" << true << "Q" << "v" << QStringList{"Solo"};
        QTest::newRow("no options") << "*,a,b,c,d,Q,v" << true << "Q" << "v" << QStringList{};
        QTest::newRow("six fields") << "*,a,b,c,d,Q" << false << "" << "" << QStringList{};
        QTest::newRow("header line") << "Type,Page,Form,Id,Kind,Name,Value,Options" << false << "" << ""
                                     << QStringList{};
    }
    void insydeCsvLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QStringList, options);
        H2ouveSettings s;
        QCOMPARE(H2ouveHandler::ParseCsvLine(line, s), valid);
        if (!valid)
            return;
        QCOMPARE(s.name, name);
        QCOMPARE(s.value, value);
        QCOMPARE(s.options, options);
    }

    // A legacy boot type makes the network stack ignored in every later pass, and each pass adds
    // its description to the summary.
    void insydeLegacyStaysForLaterPasses()
    {
        Firmware::setInsyde({"*,2,A,2,O,Network Stack,Enabled,\"Disabled,Enabled\"",
                             "*,3,A,3,O,PXE Boot to LAN,Disabled,\"Disabled,Legacy\"",
                             "*,1,A,1,O,Boot Type,Legacy Boot Type,\"UEFI Boot Type,Legacy Boot Type\""});
        H2ouveHandler handler;
        QVERIFY(handler.UseMmio());
        QCOMPARE(handler.GetPxeState(false), QString("enabled"));
        QVERIFY(handler.IsPxeEnabled());
        QVERIFY(handler.NetworkSetting());
        QVERIFY(handler.IgnoreNetworkStack());
        QVERIFY(!handler.UefiBoot());

        handler.ReInit(false);
        QVERIFY(!handler.NetworkSetting());
        QCOMPARE(handler.PxeSettings().size(), 1);
        QCOMPARE(handler.GetPxeState(false), QString("disabled"));
        QCOMPARE(Firmware::readText(BIOS_STATE_FILE), QString("disabled\n"));
        const QStringList expectedSummary = {
            "Lan Settings: Network Stack, Enabled, (Disabled, Enabled)",
            "PXE Settings:",
            "   PXE Boot to LAN, Disabled, (Disabled, Legacy)",
            "UEFI Boot: false",
            "Use MMIO: true",
            "PXE state = 1",
            "PXE Settings:",
            "   PXE Boot to LAN, Disabled, (Disabled, Legacy)",
            "UEFI Boot: false",
            "Use MMIO: true",
            "PXE state = 0",
        };
        QCOMPARE(handler.SummaryList(), expectedSummary);
        // The saved summary of the second read begins with the first pass's description.
        QCOMPARE(Firmware::readText("/tmp/new-biosinfo.txt"),
                 expectedSummary.mid(0, 6).join("\n")
                     + "\nNetwork Stack: Enabled\nPXE Boot to LAN: Disabled\nBoot Type: Legacy Boot Type\n");
    }

    void sceBlock_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("help");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("current");

        QTest::newRow("marked first option, second on next line")
            << fixtures::amiNetworkBlock(false) << " Network Stack" << " Enable/Disable UEFI Network Stack"
            << QStringList{"[00]Disabled", "[01]Enabled"} << "[00]Disabled";
        QTest::newRow("marked second option") << fixtures::amiNetworkBlock(true) << " Network Stack"
                                              << " Enable/Disable UEFI Network Stack"
                                              << QStringList{"[00]Disabled", "[01]Enabled"} << "[01]Enabled";
        QTest::newRow("no setup question") << QString("// comment = yes\nHIICrc32= 1234") << "" << ""
                                           << QStringList{} << "";
        QTest::newRow("value holding =") << QString("Setup Question\t= Q\nHelp String\t= a=b=c\nOptions\t=*[0]x")
                                         << " Q" << " a" << QStringList{"[0]x"} << "[0]x";
        QTest::newRow("comment lines skipped")
            << QString("Setup Question\t= Q\n// Options\t=*[9]bogus\nOptions\t=[0]a\n\t*[1]b\n  [2]c\n")
            << " Q" << "" << QStringList{"[0]a", "[1]b", "[2]c"} << "[1]b";
    }
    void sceBlock()
    {
        QFETCH(QString, block);
        QFETCH(QString, question);
        QFETCH(QString, help);
        QFETCH(QStringList, options);
        QFETCH(QString, current);
        SceData data(block);
        QCOMPARE(data.setupQuestion, question);
        QCOMPARE(data.helpString, help);
        QCOMPARE(data.options, options);
        QCOMPARE(data.currentOption, current);
        QCOMPARE(data.rawLines, block.split("\n"));
    }

    void sceTableFromExport()
    {
        Firmware::setAmi(fixtures::amiExport(false));
        SceHandler handler;
        QVERIFY(handler.isValidHandler());
        QCOMPARE(handler.Questions().keys(), QStringList({"Boot Mode Select", "Network Stack", "Quiet Boot"}));
        QCOMPARE(handler.Questions().value("Network Stack")->token, QString("0x10"));
        QCOMPARE(handler.Questions().value("Quiet Boot")->currentOption, QString("[01]Enabled"));
        QCOMPARE(handler.HeaderBlocks(), QStringList{fixtures::amiHeader()});
        QVERIFY(!handler.IsPxeEnabled());
        QCOMPARE(handler.GetPxeState(false), QString("Disabled"));

        Firmware::setAmiFlag("no_export");
        QFile::remove(SCELNX_DATA_IN);
        SceHandler silent;
        QVERIFY(!silent.isValidHandler());
        QVERIFY(!silent.IsPxeEnabled());
    }

    // Each read adds a header copy, and every import file begins with all copies held.
    void sceRepeatedHeader()
    {
        Firmware::setAmi(fixtures::amiExport(false));
        SceHandler handler;
        QVERIFY(handler.isValidHandler());
        handler.SetPxeEnabled(true);
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(true));
        handler.SetPxeEnabled(false);
        QCOMPARE(Firmware::amiNvram(), fixtures::amiExport(false));
        const QString header = fixtures::amiHeader();
        const QString fields = "Setup Question\t= Network Stack\n"
                               "Help String\t= Enable/Disable UEFI Network Stack\n"
                               "Token\t=0x10\n"
                               "Offset\t=0x2B\n"
                               "Width\t=01\n"
                               "Bios Default\t=[00]Disabled\n";
        QCOMPARE(Firmware::readText(SCELNX_DATA_OUT),
                 header + "\n" + header + "\n\n" + fields + "Options\t=*[00]Disabled\n\t[01]Enabled\n");

        handler.ReInit(true);
        QCOMPARE(handler.HeaderBlocks().size(), 1);
        handler.SetPxeEnabled(true);
        QCOMPARE(Firmware::readText(SCELNX_DATA_OUT),
                 header + "\n\n" + fields + "Options\t=[00]Disabled\n\t*[01]Enabled\n");
    }

    void sceSwitchEdgeCases()
    {
        // Two options containing "Enabled": switching on marks both.
        QString nvram = fixtures::amiExport(false);
        nvram.replace("Options\t=*[00]Disabled\n\t[01]Enabled", "Options\t=*[00]Disabled\n\t[01]Enabled\n\t[02]Enabled IPv6");
        Firmware::setAmi(nvram);
        {
            SceHandler handler;
            QVERIFY(handler.isValidHandler());
            QVERIFY(handler.SetPxeEnabled(true));
            QVERIFY(Firmware::readText(SCELNX_DATA_OUT)
                        .endsWith("Options\t=[00]Disabled\n\t*[01]Enabled\n\t*[02]Enabled IPv6\n"));
        }

        // No "Network Stack" question: the import holds the header and an empty line, PXE is off.
        Firmware::reset();
        Firmware::setAmi(QString(fixtures::amiHeader()) + "\n\nSetup Question\t= Quiet Boot\nOptions\t=*[00]Disabled\n");
        SceHandler handler;
        QVERIFY(handler.isValidHandler());
        QVERIFY(!handler.IsPxeEnabled());
        QCOMPARE(handler.GetPxeState(false), QString("Unknown"));
        handler.SetPxeEnabled(true);
        QCOMPARE(Firmware::readText(SCELNX_DATA_OUT), QString(fixtures::amiHeader()) + "\n\n");
    }

    void efiListing()
    {
        QStringList entries = fixtures::efiEntries();
        entries << "0100 1 High Entry";
        Firmware::setEfi(entries, "0003,0001,0002", "0001");
        EfiBootHandler efi;
        QCOMPARE(efi.GetEfiInfo(), QStringList({"BootOrder: 0003,0001,0002", "BootCurrent: 0001", "0001: Vemra OS",
                                                "0002: UEFI PXEv4 (MAC:001122334455)", "0003: UEFI USB Stick"}));
        QCOMPARE(efi.GetCurrentBootNum(), QString("0001"));
        QCOMPARE(efi.GetCurrentBootName(), QString("Vemra OS"));
        QCOMPARE(efi.FirstBootNum(), QString("0003"));
        QCOMPARE(efi.GetEfiNames(), QStringList({"Vemra OS", "UEFI PXEv4 (MAC:001122334455)", "UEFI USB Stick"}));
        QCOMPARE(efi.GetBootNum("UEFI USB Stick"), QString("0003"));
        QCOMPARE(efi.GetBootNum("0002"), QString("0002"));
        QCOMPARE(efi.GetBootNum("Old Entry"), QString());
    }

    void efiParsingEdges()
    {
        Firmware::setEfi({}, "", "");
        EfiBootHandler efi;
        efi.ProcessEfiInfo({"BootCurrent: 0002", "BootOrder: 0002", "Boot0002* Same", "Boot0001* Same",
                            "Boot0003* Star*Name", "Boot0004  Inactive", "Boot0005* First", "Boot0005* Second"});
        QCOMPARE(efi.GetBootNum("Same"), QString("0001"));
        QCOMPARE(efi.GetEfiNames(), QStringList({"Same", "Same", "Second"}));
        QCOMPARE(efi.FirstBootNum(), QString());   // a single-entry order has no comma
        QCOMPARE(efi.GetCurrentBootName(), QString("Same"));
        efi.ProcessEfiInfo({"BootCurrent: 0009", "Boot0001* A"});
        QCOMPARE(efi.GetCurrentBootName(), QString());   // no entry for the current number
    }

    void efiBootOrderChange_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("newOrder");   // empty: efibootmgr is not asked to write
        QTest::newRow("middle entry by name") << "0001,0002,0003" << "UEFI PXEv4 (MAC:001122334455)"
                                              << "0002,0001,0003";
        QTest::newRow("last entry by number") << "0003,0001,0002" << "0002" << "0002,0003,0001";
        QTest::newRow("entry missing from the order") << "0003,0001" << "UEFI PXEv4 (MAC:001122334455)"
                                                      << "0002,0003,0001";
        QTest::newRow("already first") << "0003,0001,0002" << "UEFI USB Stick" << "";
        QTest::newRow("single-entry order is written again") << "0001" << "Vemra OS" << "0001";
    }
    void efiBootOrderChange()
    {
        QFETCH(QString, order);
        QFETCH(QString, choice);
        QFETCH(QString, newOrder);
        Firmware::setEfi(fixtures::efiEntries(), order, "0001");
        EfiBootHandler efi;
        Firmware::clearCalls();
        QVERIFY(efi.SetFirstBoot(choice));
        if (newOrder.isEmpty()) {
            QCOMPARE(Firmware::calls(), QStringList());
            QCOMPARE(Firmware::efiOrder(), order);
            return;
        }
        QCOMPARE(Firmware::calls(), QStringList{"efibootmgr --bootorder=" + newOrder});
        QCOMPARE(Firmware::efiOrder(), newOrder);
        QCOMPARE(efi.GetEfiInfo().first(), "BootOrder: " + newOrder);
        if (newOrder.contains(","))
            QCOMPARE(efi.FirstBootNum(), newOrder.left(4));
    }

    void efiFailures()
    {
        // Unknown entry: nothing is run.
        Firmware::setEfi(fixtures::efiEntries(), "0001,0002", "0001");
        {
            EfiBootHandler efi;
            Firmware::clearCalls();
            QVERIFY(!efi.SetFirstBoot("No Such Entry"));
            QVERIFY(!efi.SetFirstBoot("Old Entry"));
            QCOMPARE(Firmware::calls(), QStringList());

            // efibootmgr refusing the new order: false, the handler keeps what it read.
            Sandbox::writeFile(Firmware::dir() + "/efi/entries", "0001 1 Vemra OS\n");
            QVERIFY(!efi.SetFirstBoot("UEFI USB Stick"));
            QCOMPARE(efi.FirstBootNum(), QString("0001"));
            QCOMPARE(Firmware::efiOrder(), QString("0001,0002"));
        }

        // No EFI variables.
        Firmware::setEfiUnsupported();
        {
            EfiBootHandler efi;
            QVERIFY(!efi.EfiSupported());
            QCOMPARE(efi.GetEfiInfo(), QStringList({"", "Not Supported"}));
            QCOMPARE(efi.GetCurrentBootNum(), QString());
            QCOMPARE(efi.GetCurrentBootName(), QString());
            Firmware::clearCalls();
            QVERIFY(efi.SetFirstBoot("Vemra OS"));
            QCOMPARE(Firmware::calls(), QStringList());
        }

        // efibootmgr silent.
        const QByteArray real = Sandbox::readFile(Sandbox::doublesDir() + "/efibootmgr");
        Sandbox::writeDouble("efibootmgr", "#!/bin/sh\nexit 0\n");
        {
            EfiBootHandler efi;
            QCOMPARE(efi.GetEfiInfo(), QStringList({"", ""}));
            QVERIFY(!efi.SetFirstBoot("Vemra OS"));
        }
        Sandbox::writeDouble("efibootmgr", QString::fromUtf8(real));
    }

    // Test mode reads the listing from the test source; the write still goes to efibootmgr.
    void efiTestSource()
    {
        QCOMPARE(Sandbox::run("mount", {"-t", "tmpfs", "tmpfs", "/usr/local/bin"}).exitCode, 0);
        Sandbox::writeFile(EFI_TEST_SOURCE, "#!/bin/sh\necho 'BootCurrent: 0003'\necho 'BootOrder: 0001,0003'\n"
                                            "echo 'Boot0001* Vemra OS'\necho 'Boot0003* Test Source Stick'\n");
        QFile::setPermissions(EFI_TEST_SOURCE, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        Firmware::setEfi(fixtures::efiEntries(), "0002,0001", "0001");
        Utilities::SetTestMode(true);
        EfiBootHandler efi;
        Utilities::SetTestMode(false);
        QCOMPARE(efi.GetCurrentBootName(), QString("Test Source Stick"));
        QCOMPARE(efi.GetEfiNames(), QStringList({"Vemra OS", "Test Source Stick"}));
        Firmware::clearCalls();
        QVERIFY(efi.SetFirstBoot("Test Source Stick"));
        QCOMPARE(Firmware::calls(), QStringList{"efibootmgr --bootorder=0003,0001"});
        QCOMPARE(Firmware::efiOrder(), QString("0003,0001"));
        QCOMPARE(Sandbox::run("umount", {"/usr/local/bin"}).exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestNetbootUnits)
#include "tst_netboot_units.moc"
