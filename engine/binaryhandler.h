#pragma once
// Images the partitions the NTFS tools do not handle: block by block through xblit into a gzip
// or zstd stream (ImageCodec; split into numbered pieces when large) and back, the single file
// system of a Linux drive as a tar stream in 1 GiB pieces and back, and raw copies through the
// block copy.

#include "basebrhandler.h"

class BlockCopy;

class BinaryHandler : public baseBrHandler
{
    Q_OBJECT
public:
    explicit BinaryHandler(QObject *parent = nullptr);

    // blocks: the partition's size in 512-byte blocks. 0 or 1015 / 1016.
    int BackupCompressedImage(const QString &base, const QString &device, int number, quint64 blocks);
    int RestoreCompressedBinaryImage(const QString &base, const QString &device, quint64 blocks, bool split,
                                     int number, int imageNumber);
    // 0 or 1015; the restore 0, 1004 or 1016.
    int BackupCompressedLinuxImage(const QString &base, const QString &device);
    int RestoreCompressedLinuxImage(const QString &base, const QString &device);
    // Raw copies; the block copy's result (0 success).
    int BackupBinaryImage(const QString &base, const QString &device, quint64 bytes, int number);
    int RestoreBinaryImage(const QStringList &files, const QString &device, quint64 bytes, const QString &name);
    int RestoreBinaryImage(const QString &file, const QString &device, quint64 bytes, bool flag);
    void StartBlockCopy();

    static const QString MOUNT_POINT;   // "/mnt/hd"

public slots:
    void OnBlitDataReady(QString line);
    void OnBlitFinished();

public:
    BlockCopy *blockCopy = nullptr;
    bool blockCopyDone = false;

private:
    int runPipeline(const QList<myProcess> &stages);
    bool mountPointInUse() const;
    void leaveMountPoint();
};
