#pragma once
// Restore and deploy of an image set onto the unit's system drive. Nothing is written before
// the set matches its checksum list and, for compressed sets, the drive is large enough and
// every partition's image is there in a codec this environment reads (gzip or zstd). A
// deploy moves the data partition last when it is not, and grows it and its NTFS volume to the
// end of the drive; a restore puts the set back exactly as it was taken.

#include "binaryhandler.h"
#include "ntfshandler.h"
#include "systemutils.h"

class partitionTable;

class Restore : public SystemUtils
{
    Q_OBJECT
public:
    // type: "bim" or "bin". partTable is not used (the command line passes it empty).
    Restore(const QString &type, const QString &image, const QString &partTable, QObject *parent = nullptr);
    ~Restore() override;

    // device: the drive's name (sda) or path. 0 or an error table code.
    int RestoreImage(const QString &device, bool deploy);

    static constexpr int ABORTED = 1000;   // "User Abort Requested": a run the operator stopped

private:
    void InitRestore(const QString &type, const QString &image, const QString &partTable);
    int RunRestore();
    int VerifySet();
    int CompressedRestore();
    int CheckTargetDrive();
    int CheckDriveSize();
    int CheckImageFiles();
    int WriteTable();
    int CompressedWindowsRestore();
    int CompressedLinuxRestore();
    int BinaryRestore();
    void showListing(partitionTable *t);
    void reportPartitionFailure(int number);
    bool stopRequested();

    bool isCompressed = false;
    bool deploying = false;
    QString devicePath;
    QString drive;
    QString imagePath;
    QString imageName;
    QString pathPrefix;
    NtfsHandler ntfsHandler;
    BinaryHandler binaryHandler;
    partitionTable *targetTable = nullptr;
    partitionTable *imageTable = nullptr;
    QString title;
    QString operationName;
    bool stopShown = false;
};
