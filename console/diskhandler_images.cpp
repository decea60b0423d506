// DiskHandler's image members: backing the system drive up to an image set and restoring one,
// both by the imaging engine, whose gauge output drives the progress dialog.

#include "diskhandler.h"

#include "drivejob.h"
#include "logging.h"
#include "progress.h"
#include "utils.h"

const QString DiskHandler::IMAGING_ENGINE = QStringLiteral("vaultine");

// The engine's run with its option ("-b", "-c", "-r" or "-d"), the type word and the set's main
// member. The path is always absolute (the mount point comes first), so no name the technician
// types can read as an option, and it travels as one argument, blanks and all.
static int runImagingEngine(const QString &option, const QString &type, const QString &folder,
                            const QString &fileName, const QString &title)
{
    const QString image = folder + QLatin1Char('/') + fileName;
    if (fileName.isEmpty() || !image.startsWith(QLatin1Char('/')) || (type != QLatin1String("bim") && type != QLatin1String("bin"))) {
        Logging(2) << "DiskHandler: no image to hand to the engine" << option << type << image;
        return Utils::FailedStartCode;
    }
    DriveJob job(QStringLiteral("The imaging engine (%1)").arg(title));
    if (!job.Taken())
        return ResultCode::DriveBusy;
    const QStringList args = {option, type, image};
    Logging(2) << DiskHandler::IMAGING_ENGINE << args.join(' ');
    Progress dialog(image);
    dialog.setWindowTitle(title);
    const int code = Utils::GetInstance()->ExecuteProgressShell(DiskHandler::IMAGING_ENGINE, args, &dialog, false);
    dialog.close();
    Logging(2) << DiskHandler::IMAGING_ENGINE << "exit code" << code;
    return code;
}

int DiskHandler::Backup(const QString &type, const QString &folder, const QString &fileName, bool windows)
{
    Logging(2) << "_forceClone" << int(_forceClone);
    const QString option = (_forceClone || windows) ? QStringLiteral("-c") : QStringLiteral("-b");
    return runImagingEngine(option, type, folder, fileName, QStringLiteral("Backup"));
}

int DiskHandler::Restore(const QString &type, const QString &folder, const QString &fileName, bool windows)
{
    const QString option = windows ? QStringLiteral("-d") : QStringLiteral("-r");
    return runImagingEngine(option, type, folder, fileName, QStringLiteral("Restore"));
}

QString DiskHandler::ImageType(const QString &fileName)
{
    // Sets copied through a FAT stick may come back in capitals.
    return fileName.endsWith(QLatin1String(".bim"), Qt::CaseInsensitive) ? QStringLiteral("bim") : QStringLiteral("bin");
}
