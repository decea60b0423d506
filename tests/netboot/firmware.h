#pragma once
// The unit's firmware as the LAN boot utility's tests see it: test doubles for dmidecode, the
// Insyde and AMI setup tools, modprobe and efibootmgr (tests/netboot/doubles), each keeping its
// state in files under $BRENLOW_SANDBOX/fw so that a switch shows on the next read.

#include <QString>
#include <QStringList>

#include "sandbox.h"

class Firmware
{
public:
    // Puts the doubles first on PATH and over /usr/sbin/dmidecode; once per test program.
    static bool install();
    // Forgets every firmware and every file the utility leaves behind (/tmp caches, the log, the
    // lock, the state file, the platform file); the Insyde and AMI tools are absent afterwards.
    static void reset();

    static QString dir();                      // $BRENLOW_SANDBOX/fw
    static void setDmi(const QString &keyword, const QString &value);
    // The usual DMI strings of a unit with the given product name.
    static void setUnit(const QString &product);
    static void setPlatformFile(const QString &content);   // a null string removes the file

    // Insyde: the tool present with these CSV rows (the header line is added by the tool).
    static void setInsyde(const QStringList &rows, bool mmio = true);
    static void removeInsyde();
    static void setInsydeFlag(const QString &flag, const QString &content = QString());
    static QStringList insydeRows();
    // The current value of the Insyde question name, or missing when the export has no such row.
    static QString insydeValue(const QString &name, const QString &missing = QString());

    // AMI: the tool present at /opt/SCELNX/SCELNX_64 with this export text.
    static void setAmi(const QString &nvram);
    static void removeAmi();
    static void setAmiFlag(const QString &flag, const QString &content = QString());
    static QString amiNvram();

    // EFI: entries are "NUMBER ACTIVE NAME" lines.
    static void setEfi(const QStringList &entries, const QString &order, const QString &current);
    static void setEfiUnsupported();
    static QString efiOrder();

    static QStringList calls();               // every double's call, in order
    static int countCalls(const QString &prefix);
    static void clearCalls();

    static QString readText(const QString &path);
    static QStringList stdoutLines(const Sandbox::Result &r);   // without the final empty line
    static Sandbox::Result pxeswitch(const QStringList &args, int timeoutMs = 120000);
};
