// Utils' boot operations: the UEFI/legacy choice for firmware installs and the firmware's LAN
// boot switch.
#include "utils.h"

#include "drivejob.h"

#include "logging.h"

#include <QFile>

static const QString UEFI_MARKER = QStringLiteral("/tmp/mkefi");
static const QString EFI_MODELS = QStringLiteral("/etc/efi_models");

void Utils::SetUefiBootType(bool uefi)
{
    if (!uefi) {
        QFile::remove(UEFI_MARKER);
        return;
    }
    WriteFile(UEFI_MARKER, "0");
}

bool Utils::GetCurrentBootType()
{
    if (QFile::exists(UEFI_MARKER))
        return true;
    const QStringList biosVersion = ExecuteShell(QStringLiteral("dmidecode -s bios-version"), 60000);
    QFile file(EFI_MODELS);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QStringList models = QString::fromLatin1(file.readAll()).split('\n');
    for (const QString &model : models) {
        // A blank line names no BIOS: the file's last line end, or a unit whose dmidecode printed
        // nothing, must not make a unit UEFI.
        if (model.trimmed().isEmpty())
            continue;
        for (const QString &version : biosVersion)
            if (version.trimmed() == model.trimmed())
                return true;
    }
    return false;
}

void Utils::ResetBootType()
{
    SetUefiBootType(false);
    GetCurrentBootType();
}

const QString Utils::PXE_SWITCH_JOB = QStringLiteral("The LAN boot switch");

bool Utils::SpawnSetPxeSwitchEnable(bool enable)
{
    // Taken before the state is asked: nothing may start a second switch meanwhile.
    if (!DriveJob::Take(PXE_SWITCH_JOB))
        return false;
    if (GetPxeSwitchEnabled() == enable) {
        DriveJob::Release(PXE_SWITCH_JOB);
        spawnExitCode = 0;
        spawnOutput.clear();
        emit SpawnedThreadFinished(0);
        return true;
    }
    // Given back when the switch has ended (spawnEnded), also when it could not start.
    spawnHoldsPxeSwitch = true;
    if (!SpawnShell(QStringLiteral("pxeswitch"), {enable ? QStringLiteral("-e") : QStringLiteral("-d")})) {
        spawnHoldsPxeSwitch = false;
        DriveJob::Release(PXE_SWITCH_JOB);
        return false;
    }
    return true;
}
