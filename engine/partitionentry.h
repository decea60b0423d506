#pragma once
// One partition of a table as the engine sees it, in 512-byte sectors, and the tables that give
// GPT type GUIDs and MBR type bytes their short names.

#include <QMap>
#include <QString>
#include <QStringList>

class PartitionEntry
{
public:
    // A DOS (MBR) record.
    PartitionEntry(int number, quint64 start, quint64 end, const QString &typeName, const QString &typeInfo,
                   bool bootable);
    // A GPT record.
    PartitionEntry(int number, quint64 start, quint64 end, const QString &typeName, const QString &typeInfo,
                   const QString &uniqueGuid, quint64 attributes, const QString &name);

    // Human size of a sector count in decimal units (1000, not 1024): 31250000 sectors give
    // "16.0Gb". A sector size below 512 counts as 512.
    static QString SectorsToSize(quint64 sectors, quint64 sectorSize);

    int number;
    quint64 startSector;
    quint64 endSector;
    quint64 sectorCount;
    quint64 sectorSize;
    bool bootable;
    QString typeName;
    QString typeInfo;
    QString uniqueGuid;
    int originalNumber;
    quint64 attributes;
    QString name;
    bool isData;

    static const QMap<QString, QString> partitionTypeGuids;
    static const QMap<int, QString> nbrPartitionTypes;
    static const QStringList sizeLabels;

    static const QString BASIC_DATA_GUID;
};
