// vaultine: the imaging engine. One operation per run on the unit's system drive or on an image
// set; the console reads our standard output (messages), error output (gauge) and exit status.

#include "imageset.h"
#include "systemutils.h"

#include "backup.h"
#include "partitiontable.h"
#include "restore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

static bool BadType(const QString &word)
{
    return word != QLatin1String("bin") && word != QLatin1String("bim");
}

static void StartDebugLog(const QCoreApplication &application, SystemUtils &utils)
{
    utils.LogDebug(QStringLiteral("\n\n\n"), false);
    utils.LogDebug(divline, false);
    utils.LogDebug(application.arguments().join(' '), true);
}

static void DeleteImageFiles(const QString &image, SystemUtils &utils)
{
    const ImageSet set(image);
    for (const QString &name : set.existingMembers()) {
        const QString path = set.directory() + '/' + name;
        if (QFile::remove(path))
            continue;
        const QStringList out = utils.ExecuteShellDebug(QStringLiteral("rm"), {QStringLiteral("-rv"), path}, 60000);
        utils.LogDebug(out.join('\n'), false);
        qDebug().noquote() << out.join('\n');
    }
}

// A table the engine refuses (its reason is already on the error output) is no listing: the
// exit status says so (1003, "There is a problem with the partition table").
static int ShowTable(const QString &drive)
{
    partitionTable table(QString(), drive, false);
    if (!table.refusal.isEmpty())
        return 1003;
    const QByteArray text = table.PrintTableString().toLocal8Bit();
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
    return 0;
}

static int AnalyzeTable(const QString &image)
{
    partitionTable table(image, QString(), false);
    if (!table.refusal.isEmpty())
        return 1003;
    QString out;
    if (table.handler != nullptr && table.handler->reordered) {
        out += QStringLiteral("Original Partition Table\n");
        out += table.PrintOriginalTable().join('\n') + '\n';
        out += QStringLiteral("\n\nModified Partition Table\n");
    }
    out += table.PrintTableString();
    const QByteArray text = out.toLocal8Bit();
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
    return 0;
}

// The part-table word of the command line has no effect: the restore is given it empty.
static int RunRestore(const QString &type, const QString &image, const QString &drive, bool deploy)
{
    Restore restore(type, image, QString());
    return restore.RestoreImage(drive, deploy);
}

static int RunBackup(const QString &type, const QString &image, const QString &drive, bool clone)
{
    Backup backup(type, image);
    return backup.BackupDevice(drive, clone);
}

// Help for a type word that is neither bin nor bim; the run ends here, so the pid file it made
// goes first (a pid file left behind would name a process that no longer runs, or another one).
[[noreturn]] static void ShowHelpAndEnd(QCommandLineParser &parser, SystemUtils &utils)
{
    utils.removePidFile();
    parser.showHelp(0);
}

static void ResetToDefault(const char *name, const QByteArray &value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

int main(int argc, char *argv[])
{
    // 1. The first SystemUtils owns the status socket and the error table.
    QCoreApplication app(argc, argv);
    SystemUtils utils;
    utils.initEvironmentVariables();
    StartDebugLog(app, utils);

    // 2. Options.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Backup/Restore Utility"));
    parser.addHelpOption();
    const QCommandLineOption backupOpt({"b", "backup"}, "Backup drive to image <bim/bin>(do not resize partition)", "type");
    const QCommandLineOption restoreOpt({"r", "restore"}, "Restore drive from image <bim/bin> without reordering partition or expansion.", "type");
    const QCommandLineOption cloneOpt({"c", "clone"}, "Clone/Backup drive to image <bim/bin> (resize ntfs partition)", "type");
    const QCommandLineOption deployOpt({"d", "deploy"}, "Deploy/Restore image <bim/bin> to drive Partition table may be reordered and data partition will be expanded.", "type");
    const QCommandLineOption analyzeOpt({"a", "analyze"}, "Analyze bim/gptb <file>.");
    const QCommandLineOption showOpt({"s", "show"}, "Show current Partition Table.");
    const QCommandLineOption udpOpt({"u", "udp"}, "Test udpsocket.");
    const QCommandLineOption trashOpt({"t", "trash"}, "Delete specified image.  USE WITH CAUTION it will not prompt");
    parser.addOptions({backupOpt, restoreOpt, cloneOpt, deployOpt, analyzeOpt, showOpt, udpOpt, trashOpt});
    parser.addPositionalArgument("image", "name of image to be processed");
    parser.addPositionalArgument("[chunk-size/part-table]", "");
    parser.addPositionalArgument("", "chunk-Size: For Backup/Clone, Size in MB of chunks for splitting backup files");
    parser.addPositionalArgument("", "part-table: For Restore, Restore partition table only (Y/N)");
    parser.process(app);

    // 3. Image name; a type word written apart from its option may stand in front of it.
    const QStringList positional = parser.positionalArguments();
    QString image;
    if (!positional.isEmpty()) {
        if (!BadType(positional.first()))
            image = positional.value(1);   // empty when nothing follows: treated as missing
        else
            image = positional.first();
    }

    // 4. The tools we start inherit where to report.
    ResetToDefault("RCV_STATUS", "/var/log/rcv_status");
    ResetToDefault("RCV_LOG", "/var/log/recovery.log");

    // 5. The system drive.
    const QString drive = utils.getDeviceFromFilesystem();

    // 6. Test mode: datagrams on 127.0.0.1:43850 become gauge output or the status file.
    if (parser.isSet(udpOpt)) {
        utils.LogPrep();
        utils.removeAbortFile();
        qDebug().noquote() << "touch /tmp/stop-udp to end";
        for (;;) {
            if (QFile::exists(QStringLiteral("/tmp/stop-udp")))
                return 0;
            QCoreApplication::processEvents();
            utils.ExecuteCommand(QStringLiteral("sleep 0.01"), 60000);
        }
    }

    // 7. The drive's table; works while another engine runs.
    if (parser.isSet(showOpt))
        return ShowTable(drive);

    // 8.
    if (image.isEmpty())
        parser.showHelp(0);

    // 9. Single instance. The run lock makes the check atomic; a live process named by the pid
    // file still counts as a running engine.
    const QString program = app.arguments().value(0);
    if (!utils.takeRunLock() || utils.pidFileExists()) {
        utils.LogDebug(QStringLiteral("%1 -- Another process is already running ").arg(program), true);
        utils.LogDebug(divline, false);
        fprintf(stderr, "%s is running another process\n", qPrintable(program));
        return 1;
    }

    // 10. Start of an operation.
    utils.createPidFile();
    utils.LogPrep();
    utils.removeAbortFile();
    StartDebugLog(app, utils);
    utils.RefreshNIC();

    // 11. Dispatch, first option set wins in this order.
    int result = 0;
    if (parser.isSet(deployOpt) || parser.isSet(restoreOpt)) {
        const bool deploy = parser.isSet(deployOpt);
        const QString type = parser.value(deploy ? deployOpt : restoreOpt);
        if (BadType(type))
            ShowHelpAndEnd(parser, utils);
        result = RunRestore(type, image, drive, deploy);
    } else if (parser.isSet(backupOpt) || parser.isSet(cloneOpt)) {
        const bool clone = !parser.isSet(backupOpt);
        const QString type = parser.value(clone ? cloneOpt : backupOpt);
        if (BadType(type))
            ShowHelpAndEnd(parser, utils);
        result = RunBackup(type, image, drive, clone);
    } else if (parser.isSet(analyzeOpt)) {
        result = AnalyzeTable(image);
    } else if (parser.isSet(trashOpt)) {
        utils.ExecuteCommand(QStringLiteral("sync"), 60000);
        utils.ExecuteCommand(QStringLiteral("sync"), 60000);
        const QFileInfo info(image);
        if (info.exists() && info.isFile()) {
            utils.LogDebug(QStringLiteral("Deleting image file(s) %1").arg(image), true);
            qDebug().noquote() << "Deleting" << image + "*";
            DeleteImageFiles(image, utils);
        } else {
            qDebug().noquote() << "Could not delete " + image + "*";
        }
        result = 0;
    }

    // 12. End of an operation.
    utils.removePidFile();
    utils.LogDebug(QStringLiteral("%1 DONE ").arg(program), true);
    utils.LogDebug(divline, false);
    return result;
}
