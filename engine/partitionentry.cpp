#include "partitionentry.h"

const QString PartitionEntry::BASIC_DATA_GUID = QStringLiteral("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");

const QMap<QString, QString> PartitionEntry::partitionTypeGuids = {
    {QStringLiteral("E3C9E316-0B5C-4DB8-817D-F92DF00215AE"), QStringLiteral("MS-Reserved")},
    {QStringLiteral("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), QStringLiteral("MS-Data")},
    {QStringLiteral("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"), QStringLiteral("MS-Recovery")},
    {QStringLiteral("5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"), QStringLiteral("MS-LDM-Manager")},
    {QStringLiteral("AF9B60A0-1431-4F62-BC68-3311714A69AD"), QStringLiteral("MS-LDM-Data")},
    {QStringLiteral("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"), QStringLiteral("EFI-System")},
    {QStringLiteral("21686148-6449-6E6F-744E-656564454649"), QStringLiteral("Generic-Boot")},
    {QStringLiteral("0FC63DAF-8483-4772-8E79-3D69D8477DE4"), QStringLiteral("Linux-Data")},
    {QStringLiteral("44479540-F297-41B2-9AF7-D131D5F0458A"), QStringLiteral("Linux-Root")},
    {QStringLiteral("4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709"), QStringLiteral("Linux-Root")},
    {QStringLiteral("BC13C2FF-59E6-4262-A352-B275FD6F7172"), QStringLiteral("Linux-Boot")},
    {QStringLiteral("0657FD6D-A4AB-43C4-84E5-0933C84B4F4F"), QStringLiteral("Linux-Swap")},
};

const QMap<int, QString> PartitionEntry::nbrPartitionTypes = {
    {0x01, QStringLiteral("Fat12")},       {0x04, QStringLiteral("Fat16")},
    {0x05, QStringLiteral("Extended")},    {0x06, QStringLiteral("Fat16")},
    {0x07, QStringLiteral("HPFS-NTFS")},   {0x0B, QStringLiteral("Fat32-CHS")},
    {0x0C, QStringLiteral("Fat32-LBA")},   {0x0E, QStringLiteral("Fat16-LBA")},
    {0x0F, QStringLiteral("Extended-LBA")}, {0x27, QStringLiteral("MS-Recovery")},
    {0x42, QStringLiteral("Secure-FS")},   {0x82, QStringLiteral("Linux-Swap")},
    {0x83, QStringLiteral("Linux-Data")},  {0x85, QStringLiteral("Linux-Extended")},
    {0xEE, QStringLiteral("GPT-MBR")},     {0xEF, QStringLiteral("EFI")},
};

const QStringList PartitionEntry::sizeLabels = {
    QStringLiteral("b"), QStringLiteral("Kb"), QStringLiteral("Mb"), QStringLiteral("Gb"), QStringLiteral("Tb"),
    QStringLiteral("Pb"), QStringLiteral("Z"), QStringLiteral("ZZ"), QStringLiteral("ZZZ")};

// The backup images a partition whose type name says "data" or "NTFS" with the NTFS tool; the
// test is case-sensitive, so "MS-Data" qualifies only through its GUID.
static bool namesData(const QString &typeName)
{
    return typeName.contains(QLatin1String("data")) || typeName.contains(QLatin1String("NTFS"));
}

PartitionEntry::PartitionEntry(int number, quint64 start, quint64 end, const QString &typeName,
                               const QString &typeInfo, bool bootable)
    : number(number), startSector(start), endSector(end), sectorCount(end - start + 1), sectorSize(512),
      bootable(bootable), typeName(typeName), typeInfo(typeInfo), originalNumber(number), attributes(0),
      isData(namesData(typeName))
{
}

PartitionEntry::PartitionEntry(int number, quint64 start, quint64 end, const QString &typeName,
                               const QString &typeInfo, const QString &uniqueGuid, quint64 attributes,
                               const QString &name)
    : number(number), startSector(start), endSector(end), sectorCount(end - start + 1), sectorSize(512),
      bootable(false), typeName(typeName), typeInfo(typeInfo), uniqueGuid(uniqueGuid), originalNumber(number),
      attributes(attributes), name(name), isData(namesData(typeName) || typeInfo == BASIC_DATA_GUID)
{
}

QString PartitionEntry::SectorsToSize(quint64 sectors, quint64 sectorSize)
{
    const quint64 bytes = sectors * qMax<quint64>(sectorSize, 512);
    double value = double(bytes);
    int steps = 0;
    while (value > 1000.0 && steps < sizeLabels.size() - 1) {
        value /= 1000.0;
        ++steps;
    }
    return QStringLiteral("%1%2").arg(value, 0, 'f', 1).arg(sizeLabels.at(steps));
}
