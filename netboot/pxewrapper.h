#pragma once
// Picks the setup handler that fits the platform (AMI, VMware, Insyde, or none) once, at
// construction, and forwards every request to it; EFI boot requests go to the EFI boot handler.

#include <QObject>
#include <QStringList>

#include "efiboothandler.h"
#include "pxehandler.h"
#include "utilities.h"

class PxeWrapper : public QObject
{
    Q_OBJECT
public:
    explicit PxeWrapper(QObject *parent = nullptr);

    bool IsPxeEnabled();
    void SetPxeEnable(bool enable);
    void ReInit(bool force);
    void setLoggingLevel(int level);
    QStringList queryPxeInfo();
    QString GetPxeState(bool print);

    QStringList GetEfiInfo();
    QString GetEfiBootName();
    QStringList GetEfiNames();
    bool SetPxeBootDevice(const QString &name);

    PxeHandler *Handler() const { return handler; }

private:
    EfiBootHandler *Efi();

    PxeHandler *handler = nullptr;
    QStringList platforms;
    int loggingLevel = 0;
    Utilities *utilities;
    EfiBootHandler *efiHandler = nullptr;
};
