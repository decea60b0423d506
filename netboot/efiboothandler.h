#pragma once
// Reads the UEFI boot entries and boot order through efibootmgr, reports them, and moves a chosen
// entry to the front of the boot order.

#include <QMap>
#include <QObject>
#include <QStringList>

#include "utilities.h"

static const QString EFI_TEST_SOURCE = QStringLiteral("/usr/local/bin/efibootmgr.sh");

class EfiBootHandler : public QObject
{
    Q_OBJECT
public:
    explicit EfiBootHandler(QObject *parent = nullptr);

    void GetEfiBootInfo();
    void ProcessEfiInfo(const QStringList &lines);
    QStringList GetEfiInfo() const;
    QString GetCurrentBootNum() const;
    QString GetCurrentBootName() const;
    QString GetBootNum(const QString &text) const;
    bool SetFirstBoot(const QString &text);
    bool SetBootDevice(const QString &number);

    QStringList GetEfiNames() const { return bootEntries.values(); }
    bool EfiSupported() const { return efiSupported; }
    QString FirstBootNum() const { return firstBootNum; }
    QString BootOrderLine() const { return bootOrderLine; }

private:
    Utilities *utilities;
    bool efiSupported = true;
    QMap<QString, QString> bootEntries;
    QString bootOrderLine;
    QString bootCurrentLine;
    QString firstBootNum;
};
