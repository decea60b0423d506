// The engine test bench on a real X server, against the real vaultine on small loop drives: its
// form, the helpers behind list lines, the output pane, the directory filter, a single backup
// followed through the status panes, a list run end to end (regression log, log copies on the
// share, ListStatus) and Cancel stopping a list run's engine between partitions.
// With BRENLOW_SCREENSHOTS naming a folder (scripts/screenshots does), it saves a picture of the
// bench there; otherwise it writes nothing outside the sandbox.

#include "consolefixture.h"
#include "dialogdriver.h"
#include "privatexserver.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include "diskhandler.h"
#include "drivejob.h"
#include "pxeclient.h"
#include "testvtl.h"
#include "ui_pxeclient.h"
#include "ui_testvtl.h"
#include "utils.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using namespace ConsoleFixture;

namespace {

const QString FILTER_DIR = QStringLiteral("/mnt/smb/WINDOWS/16G/LTSC2019/");
const QString LIST_FILE = QStringLiteral("/mnt/smb/list.csv");

QString fileText(const QString &path)
{
    return QString::fromUtf8(Sandbox::readFile(path));
}

// The engine, run for real, with every call's arguments recorded one line each ("-b|bim|x|").
void recordEngineCalls()
{
    Sandbox::writeDouble("vaultine", "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> /tmp/vaultine-calls\n"
                                     "echo >> /tmp/vaultine-calls\nexec '" + Sandbox::binDir() + "/vaultine' \"$@\"\n");
    QFile::remove("/tmp/vaultine-calls");
}

// Each compression takes seconds, long enough to watch a partition being written.
void slowCompression(int seconds)
{
    for (const QString &z : {"gzip", "pigz"})
        Sandbox::writeDouble(z, QStringLiteral("#!/bin/sh\nsleep %1\nexec /bin/%2 \"$@\"\n").arg(seconds).arg(z));
}

void normalCompression()
{
    QFile::remove(Sandbox::doublesDir() + "/gzip");
    QFile::remove(Sandbox::doublesDir() + "/pigz");
}

void freshEngineFiles()
{
    for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task", "/var/log/rcv_status",
                          "/var/log/regression.log", "/tmp/abort-vtl", "/var/log/vtl_pid"})
        QFile::remove(f);
}

void saveShot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
    if (!folder.isEmpty())
        QVERIFY2(window->grab().save(folder + "/" + name, "PNG"), qPrintable(name));
}

}

class TestTestVtl : public QObject
{
    Q_OBJECT

    std::unique_ptr<VirtualDrive> drive;

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        writeStyleSheet(12);
        Utils::InitLogger(2);
        qunsetenv("HDD");
        QVERIFY(QDir().mkpath(FILTER_DIR + "sub"));
        for (const char *name : {"w10.bim", "w10.bim.gptb", "w10.bim.p3.000", "notes.txt"})
            QVERIFY(Sandbox::writeFile(FILTER_DIR + name, "x"));
        // The unit's system drive: three small Linux partitions full of data.
        drive.reset(new VirtualDrive("bench", "48M"));
        const QStringList table{"-n", "1:2048:+8M", "-t", "1:8300", "-n", "2:0:+8M", "-t", "2:8300",
                                "-n", "3:0:+8M", "-t", "3:8300"};
        QVERIFY(drive->makeGpt(table));
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(Sandbox::sh(QStringLiteral("head -c 6M /dev/urandom > %1").arg(drive->partition(n))).exitCode, 0);
        QVERIFY(drive->setAsSystemDrive());
        recordEngineCalls();
    }

    void form_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("text");
        QTest::newRow("window") << "TestVtl" << "Form";
        QTest::newRow("image") << "leFIleName" << "/mnt/smb/";
        QTest::newRow("select") << "pbSelect" << "Select Image";
        QTest::newRow("list file") << "leTestFile" << "";
        QTest::newRow("select list") << "pbSelectFile" << "Select LIst of images";
        QTest::newRow("run list") << "pbRunList" << "Run From List";
        QTest::newRow("task") << "label_2" << "task";
        QTest::newRow("status") << "label_3" << "status";
        QTest::newRow("debug log") << "label_4" << "Debug Log";
        QTest::newRow("recovery log") << "label_5" << "Recovery Log";
        QTest::newRow("folder") << "leDirName" << "/mnt/smb/WINDOWS/16G/LTSC2019/";
        QTest::newRow("filter") << "pbFilter" << "Filter";
        QTest::newRow("remove") << "pbRemove" << "Remove";
        QTest::newRow("filter label") << "label" << "Filter";
        QTest::newRow("test time") << "pbTestTime" << "Test Time";
    }

    void form()
    {
        QFETCH(QString, object);
        QFETCH(QString, text);
        TestVtl bench;
        QWidget *w = bench.objectName() == object ? &bench : bench.findChild<QWidget *>(object);
        QVERIFY2(w, qPrintable(object));
        QString shown = w->windowTitle();
        if (auto *label = qobject_cast<QLabel *>(w))
            shown = label->text();
        else if (auto *button = qobject_cast<QPushButton *>(w))
            shown = button->text();
        else if (auto *line = qobject_cast<QLineEdit *>(w))
            shown = line->text();
        QCOMPARE(shown, text);
    }

    void formLayout()
    {
        TestVtl bench;
        Ui::TestVtl *ui = bench.ui;
        QCOMPARE(bench.size(), QSize(904, 631));
        const QStringList tabObjects{"tab_Select", "tab_logs", "tab", "tab_2", "tab_filters"};
        const QStringList tabTexts{"Start Backup/Restore", "LOGS", "Current Status", "ListStatus", "Filters"};
        QCOMPARE(ui->tabWidget->count(), 5);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(ui->tabWidget->widget(i)->objectName(), tabObjects.at(i));
            QCOMPARE(ui->tabWidget->tabText(i), tabTexts.at(i));
        }
        QStringList modes;
        for (int i = 0; i < ui->cbxSelectMode->count(); ++i)
            modes << ui->cbxSelectMode->itemText(i);
        QCOMPARE(modes, QStringList({"Restore", "Backup", "Clone", "Deploy", "Analyze", "Show Table"}));
        QCOMPARE(ui->cbxSelectMode->currentIndex(), 0);
        QVERIFY(ui->cbxSelectMode->toolTip().startsWith("<html><head/><body><p>Clone, Backup image. </p><p>            Shrink"));
        QVERIFY(ui->cbxSelectMode->toolTip().endsWith("<p>Show Table, Show current partition table of drive/DOM.</p></body></html>"));
        QCOMPARE(ui->buttonBox->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Close);
        QCOMPARE(ui->frame->minimumWidth(), 350);
        QCOMPARE(ui->frame_2->minimumWidth(), 350);
        for (QWidget *label : {ui->label_2, ui->label_3, ui->label_4, ui->label_5})
            QCOMPARE(label->minimumWidth(), 60);
        QVERIFY(ui->leTask->isReadOnly() && ui->leStatus->isReadOnly());
        QVERIFY(ui->pteRcvLog->isReadOnly() && ui->pteDebugLog->isReadOnly());
        QCOMPARE(bench.watchedFiles, QStringList({"/var/log/rcv_task", "/var/log/rcv_status",
                                                  "/var/log/recovery.log", "/var/log/vtl_debug.log"}));
        QCOMPARE(bench.watchTimer->interval(), 500);
        QVERIFY(!bench.busy);
        QVERIFY(!bench.runSucceeded);
    }

    void helpers_data()
    {
        QTest::addColumn<QString>("helper");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("type bim") << "type" << "/mnt/smb/w10.bim" << "bim";
        QTest::newRow("type split") << "type" << "/mnt/smb/w10.bin.000" << "000";
        QTest::newRow("type no dot") << "type" << "/mnt/smb/image" << "image";
        QTest::newRow("type empty") << "type" << "" << "bin";
        QTest::newRow("type dot end") << "type" << "/mnt/smb/w10." << "bin";
        QTest::newRow("letter --D") << "letter" << "--D" << "d Deploy";
        QTest::newRow("letter -b") << "letter" << "-b" << "b Backup";
        QTest::newRow("letter P") << "letter" << "P" << "p Play Sound";
        QTest::newRow("letter -t") << "letter" << "-t" << "t Trash";
        QTest::newRow("letter -s") << "letter" << "-s" << "s Show";
        QTest::newRow("letter -x") << "letter" << "-x" << "x ";
        QTest::newRow("letter b-") << "letter" << "b-" << "b- ";
        QTest::newRow("mac") << "folder" << " 02:00:5e:aa:bb:cc\n" << "02:00:5e:aa:bb:cc";
        QTest::newRow("mac up") << "folder" << "../../etc/02:00:5E_x-1" << "etc02:00:5E_x-1";
        QTest::newRow("mac dots") << "folder" << ".." << "unknown";
        QTest::newRow("mac empty") << "folder" << "" << "unknown";
        QTest::newRow("mac blanks") << "folder" << "a b/c" << "abc";
    }

    void helpers()
    {
        QFETCH(QString, helper);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        if (helper == "type")
            QCOMPARE(TestVtl::TypeWord(input), expected);
        else if (helper == "letter")
            QCOMPARE(TestVtl::OperationLetter(input) + ' ' + TestVtl::OperationName(TestVtl::OperationLetter(input)), expected);
        else
            QCOMPARE(TestVtl::LogFolderName(input), expected);
    }

    // Both streams feed the pane line by line; a piece without its line end waits for the rest.
    void outputPaneKeepsPartialLines()
    {
        // The script holds back the rest of each line until the test has seen the first piece.
        const QString waitFor1 = "n=0; while [ ! -e /tmp/go1 ] && [ $n -lt 300 ]; do sleep 0.05; n=$((n+1)); done; ";
        const QString waitFor2 = "n=0; while [ ! -e /tmp/go2 ] && [ $n -lt 300 ]; do sleep 0.05; n=$((n+1)); done; ";
        QFile::remove("/tmp/go1");
        QFile::remove("/tmp/go2");
        const QString script = "printf 'one\\rtwo'; " + waitFor1 + "printf ' more\\n'; printf 'half' >&2; " + waitFor2 +
                               "printf ' done\\n' >&2";
        TestVtl bench;
        bench.SpawnProcess("sh", {"-c", script});
        // The start is noted when its notice is served, which may come after the first output.
        const auto pane = [&] { return bench.ui->pteOutput->toPlainText().remove("\nProcess Started"); };
        QVERIFY2(waitFor([&] { return pane().endsWith("\none"); }), qPrintable(pane()));
        QTest::qWait(300);
        QVERIFY(pane().endsWith("\none"));   // "two" waits for its line end
        Sandbox::writeFile("/tmp/go1", "");
        QVERIFY(waitFor([&] { return pane().endsWith("\ntwo more"); }));
        QTest::qWait(300);
        QVERIFY(pane().endsWith("\ntwo more"));   // "half" waits too
        Sandbox::writeFile("/tmp/go2", "");
        QVERIFY(waitFor([&] { return pane().contains("Finished"); }));
        QCOMPARE(pane(), QString("sh -c " + script + "\none\ntwo more\nhalf done\nFinished 0 0"));
        QVERIFY(bench.ui->pteOutput->toPlainText().contains("\nProcess Started\n"));
    }

    void okWithoutImageOrListOnlyWritesTheMode()
    {
        freshEngineFiles();
        TestVtl bench;
        bench.ui->cbxSelectMode->setCurrentText("Backup");
        bench.ui->leFIleName->clear();
        bench.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(fileText("/var/log/rcv_task"), QString("Backup\n"));
        QCOMPARE(fileText("/var/log/rcv_status"), QString("Backup\n"));
        QVERIFY(!waitFor([&] { return !bench.ui->pteOutput->toPlainText().isEmpty(); }, 1000));
        QCOMPARE(bench.engineProcess->state(), QProcess::NotRunning);
    }

    void filtersTab()
    {
        TestVtl bench;
        QCOMPARE(bench.ui->pteInfo->toPlainText(), QString("notes.txt\nsub\nw10.bim\nw10.bim.gptb\nw10.bim.p3.000"));
        bench.ui->leFilter->setText("*.bim,*.0??");
        bench.ui->pbFilter->click();
        QCOMPARE(bench.nameFilters, QStringList({"*.bim", "*.0??"}));
        QCOMPARE(bench.ui->pteInfo->toPlainText(), QString("w10.bim\nw10.bim.p3.000"));
        bench.ui->pbRemove->click();
        QVERIFY(bench.nameFilters.isEmpty());
        QCOMPARE(bench.ui->pteInfo->toPlainText(), QString("notes.txt\nsub\nw10.bim\nw10.bim.gptb\nw10.bim.p3.000"));
    }

    // A single backup from OK: the engine's arguments, its output in the pane, the status panes
    // following its files while it runs, the buttons held until it ends.
    void singleBackupFollowedThroughTheFiles()
    {
        freshEngineFiles();
        recordEngineCalls();
        slowCompression(1);
        TestVtl bench;
        bench.show();
        bench.ui->cbxSelectMode->setCurrentText("Backup");
        bench.ui->leFIleName->setText("/mnt/smb/single.bim");
        bench.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(bench.ui->tabWidget->currentIndex(), 1);
        QVERIFY(!bench.ui->buttonBox->isEnabled());
        bool followed = false;
        QVERIFY(waitFor([&] {
            const QString task = fileText("/var/log/rcv_task");
            followed = followed || (bench.engineProcess->state() == QProcess::Running && !task.isEmpty()
                                    && bench.ui->leTask->text() == task && bench.ui->leStatus->text() == fileText("/var/log/rcv_status")
                                    && bench.ui->pteDebugLog->toPlainText().contains("vaultine -b bim /mnt/smb/single.bim"));
            return followed;
        }, 20000));
        saveShot(&bench, "console-testvtl.png");
        QVERIFY(waitFor([&] { return bench.ui->buttonBox->isEnabled(); }, 60000));
        normalCompression();
        QCOMPARE(fileText("/tmp/vaultine-calls"), QString("-b|bim|/mnt/smb/single.bim|\n"));
        const QStringList pane = bench.ui->pteOutput->toPlainText().split('\n');
        QCOMPARE(pane.first(), QString("vaultine -b bim /mnt/smb/single.bim"));
        QCOMPARE(pane.last(), QString("Finished 0 0"));
        QVERIFY(pane.contains("Process Started"));
        QVERIFY(QFile::exists("/mnt/smb/single.bim.sums"));
        QVERIFY(!bench.busy);
    }

    // A list run end to end against the engine: blanks around fields, a short line, an unknown
    // letter, a missing set, a failing backup whose later lines are skipped while its delete
    // line runs, "--D" passed on as written, and a sound line without sound support.
    void listRunEndToEnd()
    {
        freshEngineFiles();
        recordEngineCalls();
        slowCompression(1);
        Sandbox::writeDouble("getmac", "#!/bin/sh\necho '  ../02:00:5e:aa:bb:cc/..  '\n");
        const QString list = "# bench regression list\n"
                             "p, bim, /mnt/smb/sound\n"
                             "  -b ,  bim , /mnt/smb/good.bim  \n"
                             "-b, bim\n"
                             "-x, bim, /mnt/smb/good.bim\n"
                             "--D, bim, /mnt/smb/missing.bim\n"
                             "-b, bim, /mnt/smb/nodir/w10.bim\n"
                             "-r, bim, /mnt/smb/w10.bim\n"
                             "-c, bim, /mnt/smb/w10-old.bim\n"
                             "-t, bim, /mnt/smb/w10.bim\n"
                             "-r, bim, /mnt/smb/good.bim\n"
                             "--D, bim, /mnt/smb/good.bim\n";
        QVERIFY(Sandbox::writeFile(LIST_FILE, list.toUtf8()));

        TestVtl bench;
        bench.show();
        QSignalSpy messages(&bench, &TestVtl::PostStatusMessage);
        bench.ui->leTestFile->setText(LIST_FILE);
        // The window stays alive during the waited runs: its panes follow the engine's files.
        bool followed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const QString task = fileText("/var/log/rcv_task");
            followed = followed || (bench.busy && bench.engineProcess->state() == QProcess::Running && !task.isEmpty()
                                    && bench.ui->leTask->text() == task && !bench.ui->pteDebugLog->toPlainText().isEmpty());
        });
        watch.start(100);
        bench.ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        watch.stop();
        normalCompression();
        QVERIFY(followed);

        QCOMPARE(fileText("/tmp/vaultine-calls"), QString("-b|bim|/mnt/smb/good.bim|\n"
                                                          "-b|bim|/mnt/smb/nodir/w10.bim|\n"
                                                          "-t|bim|/mnt/smb/w10.bim|\n"
                                                          "-r|bim|/mnt/smb/good.bim|\n"
                                                          "--D|bim|/mnt/smb/good.bim|\n"));
        QStringList posted;
        for (const QList<QVariant> &m : qAsConst(messages))
            posted << m.at(0).toString() + " / " + m.at(1).toString();
        QCOMPARE(posted, QStringList({"Play Sound Compressed /mnt/smb/sound / 0", "Backup Compressed /mnt/smb/good.bim / 0",
                                      "Unknown parameter first parameter x / 0", "Backup Compressed /mnt/smb/nodir/w10.bim / 0",
                                      "Trash Compressed /mnt/smb/w10.bim / 0", "Restore Compressed /mnt/smb/good.bim / 0",
                                      "Deploy Compressed /mnt/smb/good.bim / 0"}));
        QCOMPARE(bench.failedNames, QStringList({"sound", "w10", "good"}));

        // The regression log: every line stamped, failures with the engine's code.
        QString regression = fileText("/var/log/regression.log");
        const QRegularExpression stamp("\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");
        QCOMPARE(regression.count(stamp), 11);
        regression.replace(stamp, "[S] ");
        QCOMPARE(regression, QString("[S]  Start processing CSV File\n"
                                     "[S]  --- p, bim, /mnt/smb/sound\n"
                                     "[S]  --- FAILED0\n"
                                     "[S]  ---   -b ,  bim , /mnt/smb/good.bim  \n"
                                     "[S]  --- -b, bim, /mnt/smb/nodir/w10.bim\n"
                                     "[S]  --- FAILED244\n"
                                     "[S]  --- -t, bim, /mnt/smb/w10.bim\n"
                                     "[S]  --- -r, bim, /mnt/smb/good.bim\n"
                                     "[S]  --- --D, bim, /mnt/smb/good.bim\n"
                                     "[S]  --- FAILED1\n"
                                     "[S]  --- Process complete of specified images\n"
                                     "Command lines with issuesp, bim, /mnt/smb/sound\n"
                                     "-b, bim, /mnt/smb/nodir/w10.bim\n"
                                     "--D, bim, /mnt/smb/good.bim\n\n"));

        QCOMPARE(bench.ui->teListStatus->toPlainText(),
                 QStringList({list, "Starting to process specified images\n",
                              "Play Sound: p bim /mnt/smb/sound", "Play Sound: completed FAILURE\n",
                              "Backup: -b bim /mnt/smb/good.bim", "Backup: completed Success\n",
                              "Backup: -b bim /mnt/smb/nodir/w10.bim", "Backup: completed FAILURE\n",
                              "Trash: -t bim /mnt/smb/w10.bim", "Trash: completed Success\n",
                              "Restore: -r bim /mnt/smb/good.bim", "Restore: completed Success\n",
                              "Deploy: --D bim /mnt/smb/good.bim", "Deploy: completed FAILURE\n"}).join('\n'));

        // Log copies: one folder named after the unit, whatever getmac printed around it.
        QCOMPARE(QDir("/mnt/smb/DEBUG").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"02:00:5e:aa:bb:cc"}));
        QDir copies("/mnt/smb/DEBUG/02:00:5e:aa:bb:cc");
        // Lines of one image that end in the same second each keep copies of their own (-1, -2 ...).
        const QRegularExpression copyName("^(.*)_\\d{4}_\\d\\d_\\d\\d-\\d{6}(?:-\\d+)?(_vtl)?\\.log$");
        QMap<QString, int> kinds;
        for (const QString &name : copies.entryList(QDir::Files)) {
            const QRegularExpressionMatch m = copyName.match(name);
            QVERIFY2(m.hasMatch(), qPrintable(name));
            ++kinds[m.captured(1) + m.captured(2)];
            if (name.startsWith("w10.bim") && m.captured(2) == "_vtl")
                QVERIFY(fileText(copies.filePath(name)).contains("w10.bim"));
        }
        // good.bim ran three times (backup, restore, deploy), w10.bim twice (backup, trash; the
        // engine's trash run leaves no operation log to copy).
        const QMap<QString, int> expectedCopies = {{"good.bim", 3}, {"good.bim_vtl", 3}, {"w10.bim", 1}, {"w10.bim_vtl", 2}};
        QVERIFY2(kinds == expectedCopies, qPrintable(copies.entryList(QDir::Files).join(' ')));
        QVERIFY(!QFile::exists("/mnt/etc") && !QFile::exists("/mnt/smb/02:00:5e:aa:bb:cc"));
    }

    // The bench from the main window's Advanced Tool row while its backup runs: closing and
    // reopening the bench shows the same bench and leaves its engine running; every other drive
    // job (the main window's wipe and restore, a list line of the bench) is refused meanwhile;
    // the backup ends whole, and the drive is free again.
    void benchRunIsKeptAndNoDriveJobOverlapsIt()
    {
        freshEngineFiles();
        recordEngineCalls();
        slowCompression(2);
        writeVersion("Brenlow Service production v5.12.0100.0042");
        QScopedPointer<PxeClient> window(new PxeClient);
        window->show();
        const auto benches = [] {
            QList<TestVtl *> found;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *bench = qobject_cast<TestVtl *>(widget))
                    found << bench;
            return found;
        };
        window->ui->pbVaultine->click();
        QCOMPARE(benches().size(), 1);
        QPointer<TestVtl> bench = benches().first();
        bench->ui->cbxSelectMode->setCurrentText("Backup");
        bench->ui->leFIleName->setText("/mnt/smb/kept.bim");
        bench->ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        QVERIFY(waitFor([&] { return bench->engineProcess->state() == QProcess::Running; }, 10000));
        QCOMPARE(DriveJob::Running(), QString("The engine test bench"));

        // The main window's drive rows are refused with a reason, and so is a restore asked for
        // by code.
        Answer *refusal = answerNextDialog(true);
        window->ui->pbWipeDrive->click();
        QVERIFY(waitFor([&] { return refusal->seen && !QApplication::activeModalWidget(); }, 5000));
        QCOMPARE(refusal->title, QString("Drive Busy"));
        QCOMPARE(refusal->text, QString("The engine test bench is still running.\n"
                                        "Wait until it has finished before you start another job on the drive."));
        QCOMPARE(DiskHandler::GetInstance()->Restore("bim", "/mnt/smb", "kept.bim", false), -7);

        // A list of the bench itself is refused as a whole: it starts nothing.
        QVERIFY(Sandbox::writeFile(LIST_FILE, "-s, bim, /tmp/part-tbl.bim\n"));
        bench->ui->leTestFile->setText(LIST_FILE);
        bench->ui->pbRunList->click();
        QCOMPARE(bench->ui->teListStatus->toPlainText(), QString("List not started: An engine run is still in progress; request ignored\n"));
        QVERIFY(!QFile::exists("/var/log/regression.log"));

        // Closed (a close request: its buttons are held while the run lasts) and asked for
        // again: the same bench, its engine untouched.
        QVERIFY(!bench->ui->buttonBox->isEnabled());
        bench->close();
        QVERIFY(!bench->isVisible());
        window->ui->pbVaultine->click();
        QTest::qWait(100);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(bench);
        QCOMPARE(benches().size(), 1);
        QVERIFY(bench->isVisible());
        QCOMPARE(bench->engineProcess->state(), QProcess::Running);
        QVERIFY(!QFile::exists("/tmp/abort-vtl"));

        QVERIFY(waitFor([&] { return bench->engineProcess->state() == QProcess::NotRunning; }, 120000));
        normalCompression();
        QVERIFY(bench->ui->pteOutput->toPlainText().endsWith("Finished 0 0"));
        QVERIFY(QFile::exists("/mnt/smb/kept.bim.sums"));
        QCOMPARE(DriveJob::Running(), QString());
        QCOMPARE(fileText("/tmp/vaultine-calls"), QString("-b|bim|/mnt/smb/kept.bim|\n"));

        // A row pressed while a list of the bench waits for its engine is refused without holding
        // the list up: the list ends with the refusal still on the screen.
        slowCompression(1);
        QVERIFY(Sandbox::writeFile(LIST_FILE, "-b, bim, /mnt/smb/listed.bim\n"));
        bench->ui->leTestFile->setText(LIST_FILE);
        bool listReturned = false;
        DialogDriver busy({[&](QWidget *box) {
            auto *poll = new QTimer(box);
            connect(poll, &QTimer::timeout, box, [&listReturned, box] {
                if (listReturned)
                    static_cast<QDialog *>(box)->accept();
            });
            poll->start(100);
        }}, 30000);
        QTimer::singleShot(1000, window.data(), [&] { window->ui->pbWipeDrive->click(); });
        bench->ui->pbRunList->click();
        listReturned = true;
        const bool openAtReturn = QApplication::activeModalWidget() != nullptr;
        QVERIFY(waitFor([&] { return busy.taken() == 1 && !QApplication::activeModalWidget(); }, 10000));
        normalCompression();
        QVERIFY(openAtReturn);
        QVERIFY(bench->ui->teListStatus->toPlainText().endsWith("Backup: completed Success\n"));
        window->Cleanup();
        delete bench.data();
    }

    // Cancel during a list run writes the abort file; the engine stops after the partition it is
    // writing, and the line fails with its code.
    void cancelStopsTheEngineBetweenPartitions()
    {
        freshEngineFiles();
        recordEngineCalls();
        slowCompression(2);
        QVERIFY(Sandbox::writeFile(LIST_FILE, "-b, bim, /mnt/smb/stop.bim\n"));
        TestVtl bench;
        bench.show();
        bench.ui->leTestFile->setText(LIST_FILE);
        bool cancelled = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (!cancelled && bench.busy && !QDir("/mnt/smb").entryList({"stop.bim.p1*"}, QDir::Files).isEmpty()) {
                cancelled = true;
                QVERIFY(bench.ui->buttonBox->button(QDialogButtonBox::Cancel)->isEnabled());
                bench.ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
                QVERIFY(QFile::exists("/tmp/abort-vtl"));
            }
        });
        watch.start(100);
        bench.ui->pbRunList->click();
        watch.stop();
        normalCompression();
        QVERIFY(cancelled);
        QVERIFY(bench.ui->pteOutput->toPlainText().contains("Abort Requested"));
        QVERIFY(bench.ui->pteOutput->toPlainText().endsWith("Finished 255 0"));
        QVERIFY(QDir("/mnt/smb").entryList({"stop.bim.p3*"}, QDir::Files).isEmpty());
        QVERIFY(!QFile::exists("/mnt/smb/stop.bim.sums"));
        QVERIFY(fileText("/var/log/regression.log").contains("]  --- FAILED255\n"));
        QVERIFY(bench.ui->teListStatus->toPlainText().contains("Backup: completed FAILURE\n"));
    }

    // The program asked to quit during a list (here while its first line, a sound without
    // sound support, is announced): no further line starts.
    void quitStopsAListRun()
    {
        freshEngineFiles();
        recordEngineCalls();
        QVERIFY(Sandbox::writeFile(LIST_FILE, "p, bim, /mnt/smb/sound\n-s, bim, /tmp/part-tbl.bim\n-s, bim, /tmp/part-tbl.bim\n"));
        TestVtl bench;
        bench.ui->leTestFile->setText(LIST_FILE);
        connect(&bench, &TestVtl::PostStatusMessage, [] { QCoreApplication::exit(0); });
        bench.ui->pbRunList->click();
        // The application's event loop, entered and left, forgets the quit for the next tests.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QVERIFY(waitFor([&] { return bench.engineProcess->state() == QProcess::NotRunning; }, 30000));
        QVERIFY(!QFile::exists("/tmp/vaultine-calls"));
        QVERIFY(bench.ui->teListStatus->toPlainText().endsWith("List stopped: the console is quitting\n"));
        QCOMPARE(DriveJob::Running(), QString());
    }
};

int main(int argc, char *argv[])
{
    return runOnPrivateXServer<TestTestVtl>(argc, argv, ":72");
}

#include "tst_testvtl.moc"
