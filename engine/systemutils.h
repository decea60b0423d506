#pragma once
// Services every engine class shares: running programs with time limits, the three logs,
// messages, the status files and gauge the front end reads, pid and abort files, generated
// pipeline scripts and the engine's error table.

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class UdpSocketHandler;

// One program of a generated pipeline: a program with its arguments, or a whole line that
// begins with "export" and sets an environment variable for the pipeline.
struct myProcess {
    QString program;
    QStringList arguments;
};

class SystemUtils : public QObject
{
    Q_OBJECT
public:
    explicit SystemUtils(QObject *parent = nullptr);
    ~SystemUtils() override;

    // Logs and messages.
    void LogMessage(const QString &message, const QString &file, bool stamp = true);
    void LogDebug(const QString &message, bool stamp = true);
    void ErrorMesg(const QString &message);
    void ShowMessage(const QString &message, bool stamp = false, const QString &file = QString());
    void LogPrep();
    void setTempLog(const QString &path, bool deleteFile);
    void ShowVersion();

    // Status output read by the front end.
    void UpdateTaskInfo(const QString &text);
    void UpdateStatusInfo(const QString &text);
    void UpdateGauge(int percent, const QString &title, const QString &text, const QString &extra);

    // Running programs. Output is read as Latin-1; a program that does not start gives empty
    // output; one still running at its time limit is killed and its output so far returned.
    QString ExecuteCommand(const QString &command, int timeout = 60000);
    QString ExecuteCommandDebug(const QString &command);
    QStringList ExecuteShell(const QString &command, int timeout = 60000);
    QStringList ExecuteShell(const QString &program, const QStringList &arguments, int timeout = 60000);
    // Output and error output merged; exitCode, when given, receives the program's exit status
    // (-1 when it did not start or did not end normally).
    QStringList ExecuteShellDebug(const QString &program, const QStringList &arguments, int timeout = 60000,
                                  int *exitCode = nullptr);
    QString CreateExecutableFile(const QList<myProcess> &processes);
    void MakeTmpExecDir();
    // A word quoted for bash, so that blanks, quotes, $(...) and backticks stay part of a name.
    static QString ShellQuote(const QString &word);
    // A word quoted for a whole command line run without a shell (ExecuteCommand and friends
    // split it like QProcess::splitCommand): a name holding blanks or double quotes stays one word.
    static QString CommandQuote(const QString &word);

    // Process control files.
    void createPidFile();
    bool pidFileExists();
    void removePidFile();
    void removeAbortFile();
    bool abortFileExists();
    // Takes the engine's run lock (an exclusive lock on LOCK_FILE, held until the process ends),
    // so that two engines started at the same moment can never both pass the single-instance
    // check. False when another engine holds it.
    bool takeRunLock();

    // Device, environment and network.
    void initEvironmentVariables();
    QString getDeviceFromFilesystem();
    QString AdjustDeviceName(QString device, int number);
    void RefreshNIC();
    QString GetLastSixofMac();
    // Empty when the file cannot be read, or, when stoppable, once the abort file appears (a
    // member of several GiB on a slow stick takes minutes).
    QString GetMd5Sum(const QString &path, bool stoppable = false);
    // Mounts a partition on dir (created when missing). A kernel without a FAT driver mounts FAT
    // through FUSE (fusefat) instead. True when dir is a mount point afterwards.
    bool MountPartition(const QString &partition, const QString &dir);
    // Unmounts dir and, for a FUSE mount, waits until its daemon has written everything back and
    // let go of the partition, so that the next program finds the file system complete.
    void UnmountPartition(const QString &dir);
    static bool isMountPoint(const QString &dir);

    void FillErrorInfo();

public slots:
    void onUdpDataReady(QStringList lines);

public:
    QString logFile;
    QString debugLogFile;
    QString tempLogFile;

    static const QString rcvTaskFile;
    static const QString rcvStatusFile;
    static const QString rcvryLog;
    static const QString tmpExecDir;
    static const QString pipeStatus;
    static const QString ABORT_FILE;
    static const QString DGS3;
    static const QString PID_FILE;
    static const QString LOCK_FILE;
    static const QString TIME_DATE_FORMAT;
    static QString ipAddress;
    static QString myMac;
    static QMap<int, QString> ErrorDescriptions;
    static int guiType;
    static UdpSocketHandler *ush;

    static constexpr qint64 A10G = 10000000000LL;
    static constexpr qint64 A1_GIG = 1000000000LL;
    static constexpr qint64 A1_MEG = 1000000LL;
    static constexpr qint64 D1_MEG = 10264576LL;           // not 1048576: the split size factor
    static constexpr qint64 D1_GIG = 10763188043776LL;     // D1_MEG * 1048576

private:
    QString runProcess(const QString &program, const QStringList &arguments, bool merged, int timeout,
                       int *exitCode = nullptr);
    static void writeWhole(const QString &path, const QString &text);
};

// The run header line of 86 dashes written around every run in the debug log.
extern const QString divline;
