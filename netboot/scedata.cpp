#include "scedata.h"

SceData::SceData(const QString &block, QObject *parent)
    : QObject(parent)
{
    ParseData(block.split("\n"));
}

SceData::SceData(const QStringList &lines, QObject *parent)
    : QObject(parent)
{
    ParseData(lines);
}

// A field line is "Key = value"; an option list starts on the "Options" line and goes on over the
// following lines that hold no "=". Only the text up to a second "=" is kept as the value.
void SceData::ParseData(const QStringList &lines)
{
    rawLines = lines;
    QStringList seen;
    for (const QString &line : lines) {
        if (line.startsWith("//"))
            continue;
        const QStringList parts = line.split("=");
        if (parts.size() < 2) {
            // A blank line only pads the block; it offers nothing.
            if (!line.trimmed().isEmpty())
                seen.append(line);
            continue;
        }
        if (line.startsWith("Setup Question"))
            setupQuestion = parts.at(1);
        else if (line.startsWith("Help String"))
            helpString = parts.at(1);
        else if (line.startsWith("Token"))
            token = parts.at(1);
        else if (line.startsWith("Offset"))
            offset = parts.at(1);
        else if (line.startsWith("Width"))
            width = parts.at(1);
        else if (line.startsWith("Bios Default"))
            biosDefault = parts.at(1);
        else if (line.startsWith("Options"))
            seen.append(parts.at(1).trimmed());
    }

    QStringList cleaned;
    for (QString option : qAsConst(seen)) {
        option = option.trimmed();
        if (option.startsWith("*")) {
            option.remove(0, 1);
            currentOption = option;
        }
        cleaned.append(option);
    }
    if (!cleaned.isEmpty())
        options = cleaned;
}
