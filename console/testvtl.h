#pragma once
// The engine test bench: starts vaultine on one image or on a list of engine command lines, shows
// its output as it arrives and its status files and logs as they change, and for list runs keeps
// the regression log /var/log/regression.log and copies of the engine's logs on the share under
// /mnt/smb/DEBUG/<unit>/. It talks to the engine only through its command line, exit status,
// output streams and files.
//
// A list file holds one engine command line a line, its fields separated by ",":
//   # a comment
//   -b, bim, /mnt/smb/w10.bim        the fields (trimmed) are exactly the engine's arguments
//   p, bim, /mnt/smb/sound            p: play a sound instead ("/test/play-snd.sh")
// Lines with fewer than three fields are ignored. Once an image's line failed, later lines whose
// file name contains its base name are skipped (a delete line, -t, still runs).

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QWidget>

namespace Ui {
class TestVtl;
}
class QAbstractButton;
class QTimer;

class TestVtl : public QWidget
{
    Q_OBJECT
public:
    explicit TestVtl(QWidget *parent = nullptr);
    ~TestVtl() override;

    static const QStringList cbxOptions;

    Ui::TestVtl *ui;
    QDir imageDir;
    QStringList nameFilters;
    QStringList watchedFiles;
    QTimer *watchTimer = nullptr;
    QProcess *engineProcess = nullptr;
    QString errorPartial;
    QString outputPartial;
    bool busy = false;
    QString taskFile;
    QString statusFile;
    // False until a waited run has succeeded: a sound line that runs nothing reports the last
    // run's result, and before any run there is no success to report.
    bool runSucceeded = false;
    int lastExitCode = 0;
    QString unitMac;
    QStringList failedNames;

    // Whether this bench has a run: an engine started, a waited run or a list on its way. Such a
    // bench is shown again when the bench is asked for, never replaced.
    bool HasRun() const;

    QString ExecuteCmd(const QString &command);
    void SpawnProcess(const QString &program, const QStringList &args);
    bool ExecuteAndWait(const QString &program, const QStringList &args);
    void LogDebug(const QString &text);
    void LogPrep(const QString &text);
    static void WriteToFile(const QString &path, const QString &text, bool append);
    static QString GetFileContents(const QString &path);
    static QString GetDate();

    void BackupImage(bool clone);
    void RestoreImage(bool deploy);
    void AnalyzeImage();
    void ShowCurrentPartitionTable();
    void ProcessTestFile();
    void UpdateDirectory();
    void OnFileChanged(const QString &path);

    // The engine's type word for a single run: what follows the last "." of the file name.
    static QString TypeWord(const QString &image);
    // A list line's operation letter: "--D" and "d" both give "d".
    static QString OperationLetter(const QString &field);
    // The message name of an operation letter, empty for an unknown letter.
    static QString OperationName(const QString &letter);
    // The log folder's name from getmac's output: one safe path component.
    static QString LogFolderName(const QString &getmacOutput);
    // Whether folder holds a member of the image set named name (name, .gptb, .p*, .0??).
    static bool ImageSetExists(const QString &folder, const QString &name);

    static const QString ENGINE;
    static const QString ABORT_COMMAND;
    static const QString REGRESSION_LOG;
    static const QString LOG_COPY_ROOT;

signals:
    void PostStatusMessage(const QString &text, int value = 0);
    void CloseRequested();

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_clicked(QAbstractButton *button);
    void on_pbSelect_clicked();
    void on_pbSelectFile_clicked();
    void on_pbRunList_clicked();
    void on_leFIleName_textChanged(const QString &text);
    void on_pbFilter_clicked();
    void on_pbRemove_clicked();
    void on_pbTestTime_clicked();

    void OnTimerTimeout();
    void OnDataAvailable();
    void OnErrorDataAvailable();
    void OnErrorOccurred(QProcess::ProcessError error);
    void OnFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void OnStarted();

private:
    void takeOutput(QString &partial, const QByteArray &bytes);
    void appendListStatus(const QString &text);
    // Starts program on engineProcess when the engine is free (an engine run takes the drive);
    // false, with the reason in the output pane, when it is not.
    bool startRun(const QString &program, const QStringList &args);
    // The drive for a run or a whole list, from its question on; false (the reason in the output
    // pane) while another job, or a run of this bench, holds it.
    bool takeDrive();
    void releaseDrive();
    void runEnded();
    void runListLine(const QString &line, class QFile &regressionLog, bool soundSupport, QStringList &failedLines);

    class WaitLoop *runWait = nullptr;
    bool startFailed = false;
    bool holdsDrive = false;
    bool listRunning = false;
};
