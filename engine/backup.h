#pragma once
// Backup and clone of the unit's system drive into an image set: the table copy, then one image
// per partition (or a tar archive of a Linux drive, or the raw drive), then the checksum list.
// A clone first shrinks the NTFS data volume so the set fits smaller drives, and afterwards
// returns the drive to its original table and volume size.

#include "binaryhandler.h"
#include "ntfshandler.h"
#include "systemutils.h"

class partitionTable;

class Backup : public SystemUtils
{
    Q_OBJECT
public:
    // type: "bim" (compressed) or "bin" (raw drive).
    Backup(const QString &type, const QString &image, QObject *parent = nullptr);
    ~Backup() override;

    // device: the drive's name (sda) or path. 0, an error table code, or -1 when aborted.
    int BackupDevice(const QString &device, bool clone);

private:
    void InitBackup(const QString &type, const QString &image);
    int CompressedBackup();
    int CompressedWindowsBackup();
    int CompressedLinuxBackup();
    int BinaryBackup();
    bool isLinux();
    void GenerateMd5Sums(const QString &image);
    // Shows a table's listing under a heading and writes it to the debug log.
    void showListing(const QString &heading, partitionTable &shown);

    bool isCompressed = false;
    bool cloning = false;
    QString imageName;
    QString pathPrefix;
    QString imagePath;
    QString drive;
    QString devicePath;
    QString listingFile;
    partitionTable *table = nullptr;
    NtfsHandler ntfsHandler;
    BinaryHandler binaryHandler;
    QString title;
    QString operationName;
};
