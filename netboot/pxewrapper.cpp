#include "pxewrapper.h"

#include "h2ouvehandler.h"
#include "scehandler.h"
#include "unknownhandler.h"
#include "vmwarehanlder.h"

PxeWrapper::PxeWrapper(QObject *parent)
    : QObject(parent)
{
    utilities = Utilities::GetInstance();
    platforms = QStringList{"4830kVRR"};

    const QStringList platform = utilities->ReadTextFile(HW_PLATFORM_FILE);
    utilities->LogMessage(2, QString("Platform =%1").arg(platform.join("\n")));
    const QString product = utilities->GetCommandResults("/usr/sbin/dmidecode -s system-product-name").trimmed();

    // Tried handlers that do not fit are dropped at once; the probes run with details logged.
    if (platforms.contains(product)) {
        auto *sce = new SceHandler(this);
        utilities->setDebugLevel(3);
        if (sce->isValidHandler())
            handler = sce;
        else
            delete sce;
    }
    if (!handler && product.startsWith("VMware")) {
        auto *vmware = new VmwareHanlder(this);
        utilities->setDebugLevel(3);
        if (vmware->isValidHandler())
            handler = vmware;
        else
            delete vmware;
    }
    if (!handler) {
        auto *insyde = new H2ouveHandler(this);
        if (insyde->isValidHandler())
            handler = insyde;
        else
            delete insyde;
    }

    bool enabled = false;
    if (handler) {
        utilities->setDebugLevel(loggingLevel);
        enabled = handler->IsPxeEnabled();
    } else {
        handler = new UnknownHandler(this);
        utilities->setDebugLevel(loggingLevel);
    }
    utilities->LogMessage(3, QString("PXE Enabled =%1").arg(enabled ? "Enabled" : "Disabled"));
    efiHandler = new EfiBootHandler(this);
}

bool PxeWrapper::IsPxeEnabled()
{
    return handler->IsPxeEnabled();
}

void PxeWrapper::SetPxeEnable(bool enable)
{
    handler->SetPxeEnabled(enable);
}

void PxeWrapper::ReInit(bool force)
{
    handler->ReInit(force);
}

void PxeWrapper::setLoggingLevel(int level)
{
    loggingLevel = level;
    utilities->setDebugLevel(level);
}

QStringList PxeWrapper::queryPxeInfo()
{
    return handler->queryPxeInfo();
}

QString PxeWrapper::GetPxeState(bool print)
{
    return handler->GetPxeState(print);
}

EfiBootHandler *PxeWrapper::Efi()
{
    if (!efiHandler)
        efiHandler = new EfiBootHandler(this);
    return efiHandler;
}

QStringList PxeWrapper::GetEfiInfo()
{
    return Efi()->GetEfiInfo();
}

QString PxeWrapper::GetEfiBootName()
{
    return Efi()->GetCurrentBootName();
}

QStringList PxeWrapper::GetEfiNames()
{
    return Efi()->GetEfiNames();
}

bool PxeWrapper::SetPxeBootDevice(const QString &name)
{
    return Efi()->SetFirstBoot(name);
}
