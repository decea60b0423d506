#pragma once
// One setup question as the Insyde tool's CSV export lists it.

#include <QString>
#include <QStringList>

struct H2ouveSettings {
    QString name;
    QString value;
    QStringList options;

    // "name value (option, option, ...)", the form used in the log and the report.
    QString toString() const
    {
        return QString("%1 %2 (%3)").arg(name, value, options.join(", "));
    }
};
