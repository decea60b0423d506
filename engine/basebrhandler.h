#pragma once
// The tool runner under the imaging handlers: starts one program (normally a generated pipeline
// script) at a time, keeps the event loop turning while it runs, turns its output lines into
// progress for the operator (gauge, status file, task file, console), watches for silence and
// returns one exit code for the whole pipeline. It also holds the split size of chunked images.

#include "stoprules.h"
#include "systemutils.h"

#include <QProcess>
#include <QTextDecoder>
#include <QTimer>

#include <memory>

class baseBrHandler : public SystemUtils
{
    Q_OBJECT
public:
    explicit baseBrHandler(QObject *parent = nullptr);
    ~baseBrHandler() override;

    // Runs program (alone: split at blanks; or with arguments) and waits for it, serving events.
    // 0 success, 1006 when it did not start, otherwise its exit code or the code of the first
    // failing stage of a generated pipeline. secondText is kept with the run only. step says
    // whether a stop request or the stall watchdog may end the run early (StopRules).
    int ExecuteAndWait(const QString &program, const QStringList &arguments, const QString &logFile,
                       const QString &secondText, StopRules::Step step = StopRules::Step::Copy);
    void ClearResultVariables(const QString &logFile, const QString &secondText);

    // The line grammar: percentages, tar checkpoints, task descriptions ("..."), plain lines.
    void ProcessDataLine(const QString &line);

    // Silence of more than this many seconds is logged (once per further second).
    static constexpr int WATCHDOG_LIMIT = 100;
    // A pipeline that reads, writes and prints nothing for this long (seconds; the environment
    // variable STALL_TIMEOUT overrides it) has hung on a failing drive or a dead share: it is
    // stopped and the run fails, naming the tool. A step that changes a volume in place is only
    // reported, once per such period.
    static constexpr int DEFAULT_STALL_SECONDS = 600;
    // Pieces stay below the 4 GiB a FAT32 stick allows for one file, whatever SPLIT_SIZE says.
    static constexpr quint32 MAX_SPLIT_MB = 4095;
    // ExecuteAndWait's results for a pipeline it stopped itself.
    static constexpr int RUN_ABORTED = 1000;
    static constexpr int RUN_STALLED = 124;   // as timeout(1) reports a command it stopped

    // True when an image of a partition of this many bytes is cut into pieces of splitBytes. A
    // compressor makes incompressible data slightly larger (its block headers: hundredths of a
    // percent), so a partition within a generous margin of one piece is cut too: no member may
    // exceed the split size (at 4095 MiB it would no longer fit a FAT32 stick).
    bool splitsImage(quint64 partitionBytes) const
    {
        return partitionBytes + partitionBytes / 256 + COMPRESSION_SLACK > splitBytes;
    }
    static constexpr quint64 COMPRESSION_SLACK = 65536;
    // The stage that cuts standard input into prefix.000, prefix.001 ... prefix.999, prefix.1000 ...
    // of pieceBytes each (the names go on past three digits, which split's own names cannot).
    static myProcess SplitStage(const QString &prefix, quint64 pieceBytes);
    // The stage that writes the given files one after the other to standard output.
    static myProcess PiecesStage(const QStringList &pieces);

public slots:
    void setSplitSizes(quint32 mb);
    void OnStarted();
    void OnFinished(int code, QProcess::ExitStatus status);
    void OnErrorOccurred(QProcess::ProcessError error);
    void OnDataAvailable();
    void OnErrorDataAvailable();
    void OnTimerTimeout();

    // A restore's target must be an existing block device: the tools would otherwise create
    // a plain file of that name under /dev and report success. Shows why when it is not.
    bool TargetIsBlockDevice(const QString &partition);

    // The stage that compresses standard input to standard output with the codec IMAGE_CODEC
    // asks for (ImageCodec; gzip for a word it does not know, which the backup refuses before it
    // begins); extra arguments follow (a redirection into the image, for instance).
    static myProcess CompressStage(const QStringList &extra = QStringList());
    // The stages that write one image decompressed to standard output: files is the whole image
    // or its pieces in order, and the first bytes of the first file name the codec. False, with
    // the reason shown, for an image that is missing, of neither kind, or whose tool is missing.
    bool ImageReadStages(const QStringList &files, QList<myProcess> &stages);

protected:
    void ProcessPercentage(const QString &line);

public:
    bool running = false;
    QProcess *process = nullptr;
    QString runLogFile;
    int exitCode = 0;
    int exitStatus = 0;
    int processError = 0;
    int watchdogTicks = 0;
    QString pendingOut;
    QString pendingErr;
    QTimer *watchdog = nullptr;
    int checkpointCount = 0;
    int lastGauge = 0;
    quint32 splitSizeMb = 1024;
    quint64 splitBytes = 1024ULL * 1048576ULL;   // splitSizeMb MiB
    quint64 sectorSize = 512;
    bool volumeShrunk = false;
    double lastStatusPercent = 0.0;
    double nextEchoPercent = 0.0;
    QString programName;
    int stallSeconds = DEFAULT_STALL_SECONDS;   // STALL_TIMEOUT when set

private:
    // Splits what arrived on one channel into whole lines; the unfinished rest waits in pending.
    void takeOutput(const QByteArray &bytes, QString &pending, std::unique_ptr<QTextDecoder> &decoder);
    int pipelineResult() const;
    // Every process the running pipeline consists of (its script and all their children).
    QList<qint64> pipelineProcesses() const;
    // Bytes read and written so far by the pipeline's processes: the measure of its progress.
    quint64 pipelineTraffic(const QList<qint64> &pids) const;
    // The tools of the pipeline that are not waiting on a neighbour: the ones that hang.
    QString stalledTools(const QList<qint64> &pids, bool onlyStuck = true) const;
    QString pipelineTools(const QList<qint64> &pids) const;
    void stopPipeline();
    QString runSecondText;
    std::unique_ptr<QTextDecoder> outDecoder;
    std::unique_ptr<QTextDecoder> errDecoder;
};
