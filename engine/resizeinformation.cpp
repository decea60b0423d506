#include "resizeinformation.h"

#include <QStringList>

ResizeInformation::ResizeInformation(const QString &report)
{
    for (const QString &line : report.split(QLatin1Char('\n'))) {
        if (line.toLower().contains(QLatin1String("error")))
            hasError = true;
        if (!line.contains(QLatin1Char(':')))
            continue;
        hasInfo = true;
        // "Cluster size       : 4096 bytes": the value lies between the first and second colon.
        const QString value = line.split(QLatin1Char(':')).value(1).trimmed();
        const QString word = value.split(QLatin1Char(' ')).value(0);
        bool ok = false;
        const quint64 number = word.toULongLong(&ok, 10);
        const quint64 n = ok ? number : 0;
        if (line.startsWith(QLatin1String("Device name")))
            deviceName = value;
        else if (line.startsWith(QLatin1String("NTFS volume")))
            volumeVersion = value;
        else if (line.startsWith(QLatin1String("Cluster")))
            clusterSize = n;
        else if (line.startsWith(QLatin1String("Current volume")))
            volumeSize = n;
        else if (line.startsWith(QLatin1String("Current device")))
            deviceSize = n;
        else if (line.startsWith(QLatin1String("Space in use ")))
            spaceInUse = n;
    }
    // A volume smaller than its reported use (a damaged report) has no free space, not 2^64.
    const quint64 used = spaceInUse * 1000000ULL;
    freeBytes = (spaceInUse != 0 && volumeSize > used) ? volumeSize - used : 0;
}
