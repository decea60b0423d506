#pragma once
// GPT tables: read from a saved copy, reordered so that the data partition comes last, saved
// from a disk and written back by driving sgdisk; also the fixed two-partition Linux layout.

#include "gptlayout.h"
#include "tablehandlerbase.h"

#include <QByteArray>
#include <QMap>

class GptHandler : public tableHandlerBase
{
    Q_OBJECT
public:
    typedef GptLayout::Entry GptPartitionEntry;

    explicit GptHandler(bool reorder, QObject *parent = nullptr);

    bool ProcessGpt(const QString &path);
    bool ProcessGpt(const QByteArray &bytes, const QString &path);

    PartitionEntry *getDataParition() override;
    bool ReorderTable() override;
    QString BackupParitionTable(const QString &device, const QString &file) override;
    bool RestoreParitionTable(const QString &device, const QString &file) override;
    bool RestoreTable(const QString &device);
    bool RestoreTableFromFile(const QString &device, const QString &file);
    // False only when the disk could not be cleared (sgdisk -Z never reported a fresh GPT).
    bool CreateLinuxPartitionTable(const QString &device);

    static QString GuidUtoString(const quint8 guid[16]);
    PartitionEntry *CreatePartitionEntry(int number, const GptPartitionEntry &entry, const QString &typeName,
                                         int originalNumber);
    quint64 CheckAndModifySectors(GptPartitionEntry &entry, quint64 previousEnd);
    void ModifySectors(GptPartitionEntry &entry, quint64 previousEnd, quint64 length);
    quint64 AddModifiedEntry(GptPartitionEntry &entry, quint64 previousEnd, int number, int originalNumber);

    // How often the Linux layout asks sgdisk -Z for a clean disk before it gives up.
    static constexpr int ZAP_ATTEMPTS = 5;

    QMap<QString, QString> typeNames;
    int dataNumber = 0;
    QMap<int, GptPartitionEntry> otherEntries;
    QMap<int, GptPartitionEntry> dataEntries;
    QList<GptPartitionEntry> modifiedEntries;
    // Why the last parse read no table (a header that does not add up); empty when it did.
    QString readError;
    QString readFile;   // the file the last parse read (a table's ".gptb" copy where there is one)

    static const QString GPTB;

private:
    void InitializeGuids();
    QString runLogged(const QString &command);
};
