#pragma once
// The common shape of a firmware setup handler: reads and switches the network boot (PXE) setting
// through one vendor tool, builds the information report, and owns the firmware tool lock and the
// PXE state file that every handler shares.

#include <QObject>
#include <QString>
#include <QStringList>

#include "utilities.h"

class PxeHandler : public QObject
{
    Q_OBJECT
public:
    explicit PxeHandler(QObject *parent = nullptr);

    virtual bool IsPxeEnabled();
    virtual bool SetPxeEnabled(bool enable);
    virtual bool isValidHandler();
    virtual void ReInit(bool force);

    QString GetPxeState(bool print);
    QStringList queryPxeInfo();
    void SettingsInfoInit();
    bool GetLock();
    bool ReleaseLock();
    void WritePxeState(const QString &state);
    void WritePxeState(bool enabled);

    QString HandlerName() const { return handlerName; }

    // How often GetLock polls, one second apart, before it gives up.
    static const int LOCK_ATTEMPTS = 46;

protected:
    Utilities *utilities;
    bool pxeEnabled = false;
    QString pxeState = QStringLiteral("Unknown");
    bool validHandler = false;
    QString handlerName = QStringLiteral("Unknown");
    QString productName;
    QStringList infoList;
};
