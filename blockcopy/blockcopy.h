#pragma once
// xblit's copy: a stream or a device copied in 512-byte blocks, each change of the whole
// percentage reported three ways (status file, a datagram to the engine's status port, and for
// events the operation log). The engine starts it at either end of its image pipelines.

#include <QObject>
#include <QString>

#include <cstdio>

class QUdpSocket;

class BlockCopy : public QObject
{
    Q_OBJECT
public:
    static const int BLOCK_SIZE = 512;
    static const quint16 STATUS_PORT = 43850;

    explicit BlockCopy(QObject *parent = nullptr);
    ~BlockCopy() override;

    bool Start(const QString &src, const QString &dst, quint32 count);
    bool CopyBlocks(FILE *input, FILE *output, quint32 count);

    void WriteToLog(const QString &text, const QString &path, bool truncate);
    void WriteLogMessage(const QString &text);
    void WriteStatusMessage(const QString &text);
    static void msleep(unsigned long ms);

    QString sendLogPath() const { return sendLog; }

private:
    // The blocks move in chunks of up to this many; every chunk ends on a block after which a
    // report is due, so reports and errors come exactly where a block-by-block copy has them.
    static const quint64 CHUNK_BLOCKS = 2048;
    static quint64 chunkEnd(quint64 first, quint64 count);
    void reportFailure(const char *what, quint64 block, int error);

    FILE *inputStream = nullptr;
    FILE *outputStream = nullptr;
    QString statusFile;
    QString logFile;
    QString sendLog;
    QUdpSocket *socket;
    quint16 port = STATUS_PORT;
    quint64 blocksCopied = 0;
};
