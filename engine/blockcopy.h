#pragma once
// Raw copies inside the engine: a drive into one file or into 1 GiB pieces (binary backup), one
// file onto a drive, or a list of pieces one after the other onto a drive (binary restore).
// Progress and errors leave as text lines through StatusReady; RunFinished ends a run.
// A thread class by descent, but its owner calls run() directly on its own thread, so the
// signals reach the owner's slots at once.

#include <QString>
#include <QStringList>
#include <QThread>

class BlockCopy : public QThread
{
    Q_OBJECT
public:
    // Results of a run. Every failure also emits a line starting with "ERROR".
    enum Result {
        Success = 0,
        Overrun = 1,          // the destination took fewer bytes than it was given
        CannotCreate = -1,    // the destination (or a piece file) could not be opened for writing
        SourceFailed = 2,     // a source could not be opened or read
        SourceShort = 3,      // a source ended before the expected byte count (or there was none)
        Aborted = 4,          // the operator's abort file appeared during the copy
    };

    static constexpr quint64 PIECE_SIZE = 1073741824ULL;   // 1 GiB
    static constexpr quint64 BLOCK_SIZE = 512;

    explicit BlockCopy(QObject *parent = nullptr);
    BlockCopy(const QStringList &sources, const QString &destination, quint64 byteCount, QObject *parent = nullptr);
    BlockCopy(const QString &source, const QString &destination, quint64 byteCount, QObject *parent = nullptr);

    // Size of the pieces of a drive-to-pieces copy (PIECE_SIZE unless set); a copy of at most
    // this many bytes goes into the destination itself.
    void setPieceSize(quint64 bytes) { pieceSize = bytes > 0 ? bytes : PIECE_SIZE; }

    void SetParams(const QString &source, const QString &destination, quint64 byteCount);
    void SetParams(const QStringList &sources, const QString &destination, quint64 byteCount, const QString &source);

    // One copy, on the calling thread; stores the result and emits RunFinished().
    void run() override;
    int getLastRunStatus() const { return lastRunStatus; }

signals:
    void StatusReady(QString line);
    void RunFinished();

private:
    int SingleCopy();
    int DriveToPiecesCopy();
    int ListToDriveCopy();

    QString source;
    QString destination;
    quint64 byteCount = 0;
    QStringList sources;
    int lastRunStatus = 0;
    quint64 pieceSize = PIECE_SIZE;
};
