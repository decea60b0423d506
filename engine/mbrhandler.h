#pragma once
// DOS (MBR) tables: read from a saved first sector with the chain of extended boot records read
// from the disk, saved and restored with dd, and reordered (data partition behind the recovery
// partition) by rewriting the table through libfdisk.

#include "dostable.h"
#include "mbrlayout.h"
#include "tablehandlerbase.h"

#include <QByteArray>

class MbrHandler : public tableHandlerBase
{
    Q_OBJECT
public:
    explicit MbrHandler(bool reorder, QObject *parent = nullptr);

    bool RestoreParitionTable(const QString &device, const QString &file) override;
    QString BackupParitionTable(const QString &device, const QString &file) override;
    bool ReorderTable() override;
    PartitionEntry *getDataParition() override;

    void ProcessMbr(const QString &file);
    void ProcessMbr(const QByteArray &bytes, const QString &file);
    int ProcessEBR(const MbrLayout::Record &extended, int next);
    QString AddEntry(int number, const MbrLayout::Record &record, quint64 base);
    bool RestoreTableFromFile(const QString &device, const QString &file, int count);
    bool RestoreTable(const QString &device);

    static const QString EBR_FILE;

    int dataNumber = -1;
    QString device;
    QByteArray mbrBytes;
    DosTable *dosTable = nullptr;
    QString tableFile;

private:
    bool ReadSector(quint64 lba, std::vector<uint8_t> &sector);
    QString runLogged(const QString &command);
};
