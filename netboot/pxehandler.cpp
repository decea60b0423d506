#include "pxehandler.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

PxeHandler::PxeHandler(QObject *parent)
    : QObject(parent)
    , utilities(Utilities::GetInstance())
{
}

bool PxeHandler::IsPxeEnabled()
{
    return pxeEnabled;
}

bool PxeHandler::SetPxeEnabled(bool enable)
{
    pxeEnabled = enable;
    return pxeEnabled;
}

bool PxeHandler::isValidHandler()
{
    return false;
}

void PxeHandler::ReInit(bool /*force*/)
{
    SettingsInfoInit();
    infoList.append("PXE state:  " + pxeState);
}

QString PxeHandler::GetPxeState(bool print)
{
    if (print)
        utilities->OutputMessageToTerminal(pxeState);
    return pxeState;
}

QStringList PxeHandler::queryPxeInfo()
{
    ReInit(false);
    return infoList;
}

void PxeHandler::SettingsInfoInit()
{
    infoList.clear();
    productName = utilities->GetCommandResults("/usr/sbin/dmidecode -s system-product-name").trimmed();
    const QString sysMfgr = utilities->GetCommandResults("/usr/sbin/dmidecode -s system-manufacturer").trimmed();
    const QString bbMfgr = utilities->GetCommandResults("/usr/sbin/dmidecode -s baseboard-manufacturer").trimmed();
    const QString bios = utilities->GetCommandResults("/usr/sbin/dmidecode -s bios-version").trimmed();
    infoList << "PXE Handler: " + handlerName
             << "Product: " + productName
             << "BIOS:    " + bios
             << "SysMfgr: " + sysMfgr
             << "bbMfgr:  " + bbMfgr;
}

// The lock file is created only if it is absent (O_CREAT|O_EXCL), so of two processes that look
// at the same moment exactly one creates it and holds the lock. Only a lock file that is already
// there is worth waiting for: one that cannot be made (no /var/lock, a read-only system) never
// will be, and the run gives up at once with the reason.
bool PxeHandler::GetLock()
{
    utilities->LogMessage(2, "start GetLock");
    const QByteArray path = QFile::encodeName(LOCK_FILE);
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; ++attempt) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            utilities->LogMessage(2, "end   GetLock");
            return true;
        }
        if (errno != EEXIST) {
            utilities->LogMessage(-1, QString("abort GetLock -- can't create %1: %2")
                                          .arg(LOCK_FILE, QString::fromLocal8Bit(strerror(errno))));
            return false;
        }
        utilities->ExecuteCmd("sleep", {"1"});
    }
    utilities->LogMessage(-1, "abort GetLock -- can't get lock");
    return false;
}

bool PxeHandler::ReleaseLock()
{
    if (QFile::exists(LOCK_FILE))
        QFile::remove(LOCK_FILE);
    return true;
}

void PxeHandler::WritePxeState(const QString &state)
{
    pxeState = state;
    QFile file(BIOS_STATE_FILE);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write((state + "\n").toLatin1());
    file.close();
    pxeEnabled = state.toLower() == "enabled";
}

void PxeHandler::WritePxeState(bool enabled)
{
    WritePxeState(QString(enabled ? "Enabled" : "Disabled"));
}
