#include "partitionname.h"

#include <QRegularExpression>

QString PartitionName::of(const QString &device, int number)
{
    const QString suffix = QString::number(number);
    static const QRegularExpression letterDisk(QStringLiteral("^(sd|hd|vd|xvd)[a-z]+[0-9]*$"));
    const QString name = device.mid(device.lastIndexOf('/') + 1);
    const bool digitDisk = !name.isEmpty() && name.back().isDigit() && !letterDisk.match(name).hasMatch();
    if (digitDisk) {
        // loop3 with 3 is a disk (loop3p3 is its partition); loop3p3 is already complete.
        const QRegularExpression partitionOf(QStringLiteral("[0-9]p%1$").arg(suffix));
        return partitionOf.match(name).hasMatch() ? device : device + 'p' + suffix;
    }
    if (device.endsWith(suffix))
        return device;
    return device + suffix;
}
