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

    static constexpr int ABORTED = -1;   // the result of a run the operator stopped

private:
    void InitBackup(const QString &type, const QString &image);
    int CheckImageCodec();
    int CompressedBackup();
    int CompressedWindowsBackup();
    int CompressedLinuxBackup();
    int BinaryBackup();
    bool isLinux();
    bool GenerateMd5Sums(const QString &image);
    // A clone stopped by the operator: the drive gets its original table and volume size back
    // when it was shrunk. Returns ABORTED.
    int stopClone(bool shrunk, const QString &originalTable);
    // The original table (a saved table file) written back and the shrunk volume grown to fill
    // its partition again. 0, or the growth's code.
    int growSourceBack(const QString &originalTable);
    // The destination folder's file system, noted when the set begins.
    void rememberDestination();
    // Empty while the set's folder is still on the file system the backup began on; otherwise why
    // it is not (a stick pulled, a share dropped: the folder's name then leads elsewhere).
    QString destinationGone() const;
    // Why writing to the destination failed, where it can be told: gone, or full. Empty otherwise.
    QString writeFailureReason() const;
    // The member of partition number (0: the drive's pieces) written last, as a file name.
    QString lastMember(int number) const;
    // A partition that failed: which one, and which member could not be written and why.
    void reportPartitionFailure(int number);
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
    quint64 destinationDevice = 0;
    bool destinationKnown = false;
    partitionTable *table = nullptr;
    NtfsHandler ntfsHandler;
    BinaryHandler binaryHandler;
    QString title;
    QString operationName;
};
