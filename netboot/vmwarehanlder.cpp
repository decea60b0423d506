#include "vmwarehanlder.h"

VmwareHanlder::VmwareHanlder(QObject *parent)
    : PxeHandler(parent)
{
}

// The platform file written at boot decides when it names anything; otherwise the product name.
// An empty file reads as one empty line and counts as naming nothing.
bool VmwareHanlder::isValidHandler()
{
    const QStringList platform = utilities->ReadTextFile(HW_PLATFORM_FILE);
    QString name;
    if (platform.isEmpty() || platform.first().isEmpty())
        name = utilities->GetCommandResults("/usr/sbin/dmidecode -s system-product-name").trimmed();
    else
        name = platform.first();
    validHandler = name.toLower().startsWith("vmware");
    handlerName = "VMware";
    pxeState = "Unknown";
    return validHandler;
}
