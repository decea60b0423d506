#include "utils.h"

#include "constants.h"
#include "drivejob.h"
#include "logging.h"
#include "progress.h"
#include "udpsockethandler.h"
#include "waitloop.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool Utils::debugMode = false;
bool Utils::productionMode = false;
bool Utils::dontRelease = false;

static const QString SIDE_LOG = QStringLiteral("/tmp/pxe-gui.log");
static const QString DEFAULT_STYLE_SHEET = QStringLiteral("/root/.config/default.css");
static const int START_WAIT_MS = 30000;

Utils *Utils::GetInstance()
{
    static Utils *instance = new Utils();
    return instance;
}

Utils::Utils() : spawnProcess(new QProcess(this))
{
    // Status lines sent to the console from outside (127.0.0.1 only) move the progress dialog.
    statusChannel = new UdpSocketHandler(this, UdpSocketHandler::ConsolePort);
    connect(statusChannel, &UdpSocketHandler::UdpDataReady, this, &Utils::processUdpData);
    spawnProcess->setProcessChannelMode(QProcess::MergedChannels);
    connect(spawnProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &Utils::onProcessFinished);
    connect(spawnProcess, &QProcess::errorOccurred, this, &Utils::onSpawnError);
}

// ---- blocking runs ---------------------------------------------------------------------------

QStringList Utils::toLines(const QByteArray &output)
{
    const int zero = output.indexOf('\0');
    const QString text = QString::fromLatin1(zero < 0 ? output : output.left(zero)).trimmed();
    // Callers test the result for emptiness: a command that printed nothing gives no lines.
    if (text.isEmpty())
        return QStringList();
    return text.split('\n');
}

QStringList Utils::runBlocking(const QString &program, const QStringList &args, int timeoutMs, bool merged,
                               int *exitCode)
{
    QProcess process;
    if (merged)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(START_WAIT_MS)) {
        if (exitCode)
            *exitCode = FailedStartCode;
        return QStringList();
    }
    process.closeWriteChannel();
    // Timers, painting and sockets go on; clicks and keys wait until the command is back.
    const WaitLoop::Outcome outcome = WaitLoop::ForProcess(process, timeoutMs, QEventLoop::ExcludeUserInputEvents);
    if (outcome != WaitLoop::Done) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (exitCode) {
        if (outcome == WaitLoop::Interrupted)
            *exitCode = InterruptedCode;
        else if (outcome == WaitLoop::TimedOut || process.exitStatus() == QProcess::CrashExit)
            *exitCode = CrashCode;
        else
            *exitCode = process.exitCode();
    }
    return toLines(process.readAllStandardOutput());
}

// A command line as QProcess reads it (double quotes group words; no shell): the program and
// its arguments. False for an empty line.
static bool splitCommandLine(const QString &commandLine, QString &program, QStringList &args)
{
    args = QProcess::splitCommand(commandLine);
    if (args.isEmpty())
        return false;
    program = args.takeFirst();
    return true;
}

QStringList Utils::ExecuteShell(const QString &commandLine, int timeoutMs)
{
    QString program;
    QStringList args;
    return splitCommandLine(commandLine, program, args) ? ExecuteShell(program, args, timeoutMs) : QStringList();
}

QStringList Utils::ExecuteShell(const QString &program, const QStringList &args, int timeoutMs)
{
    LogMsg((QStringList(program) + args).join(' ') + "\n");
    return runBlocking(program, args, timeoutMs, false);
}

QStringList Utils::ExecuteShellDebug(const QString &commandLine, int timeoutMs)
{
    QString program;
    QStringList args;
    return splitCommandLine(commandLine, program, args) ? ExecuteShellDebug(program, args, timeoutMs) : QStringList();
}

QStringList Utils::ExecuteShellDebug(const QString &program, const QStringList &args, int timeoutMs, int *exitCode)
{
    const QString commandLine = (QStringList(program) + args).join(' ');
    LogMsg(commandLine + "\n");
    const QStringList lines = runBlocking(program, args, timeoutMs, true, exitCode);
    LogMsg(commandLine + " out:\n" + lines.join('\n') + "\n");
    return lines;
}

QStringList Utils::ExecutePipedShell(const QString &first, const QString &second, int timeoutMs)
{
    QString firstProgram, secondProgram;
    QStringList firstArgs, secondArgs;
    if (!splitCommandLine(first, firstProgram, firstArgs) || !splitCommandLine(second, secondProgram, secondArgs))
        return QStringList();
    LogMsg(first + " | " + second + "\n");
    QProcess source, sink;
    source.setStandardOutputProcess(&sink);
    source.start(firstProgram, firstArgs);
    sink.start(secondProgram, secondArgs);
    QStringList lines;
    if (sink.waitForStarted(START_WAIT_MS)) {
        if (WaitLoop::ForProcess(sink, timeoutMs, QEventLoop::ExcludeUserInputEvents) != WaitLoop::Done) {
            sink.kill();
            sink.waitForFinished(1000);
        }
        lines = toLines(sink.readAllStandardOutput());
    }
    if (source.state() != QProcess::NotRunning) {
        source.kill();
        source.waitForFinished(1000);
    }
    return lines;
}

// ---- progress runs ---------------------------------------------------------------------------

int Utils::ExecuteProgressShell(const QString &commandLine, Progress *dialog, bool mergeOutput)
{
    QStringList words = commandLine.split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return FailedStartCode;
    const QString program = words.takeFirst();
    return ExecuteProgressShell(program, words, dialog, mergeOutput, QString());
}

// The state of one progress run; it lives on the run's own stack frame, so a run started while
// another waits (a status line, a timer) never reads or ends the other's.
struct Utils::ProgressRun {
    QProcess *process = nullptr;
    QPointer<Progress> dialog;
    bool merged = false;
    int value = 0;
    int exitCode = ResultCode::Interrupted;
    QString pendingOutput;
    QString pendingError;
};

int Utils::ExecuteProgressShell(const QString &program, const QStringList &args, Progress *dialog,
                                bool mergeOutput, const QString &envEntry)
{
    LogMsg(program + "\n");
    const bool ownsDialog = dialog == nullptr;
    if (!dialog)
        dialog = new Progress(QString());
    dialog->show();

    ProgressRun run;
    QProcess process;
    run.process = &process;
    run.dialog = dialog;
    run.merged = mergeOutput;
    ProgressRun *outerRun = activeRun;
    activeRun = &run;

    if (mergeOutput)
        process.setProcessChannelMode(QProcess::MergedChannels);
    else
        connect(&process, &QProcess::readyReadStandardError, this, [this, &run]() {
            takeLines(&run, run.pendingError, run.process->readAllStandardError(), "stdErr: ");
        });
    if (!envEntry.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const int equals = envEntry.indexOf('=');
        if (equals > 0)
            environment.insert(envEntry.left(equals), envEntry.mid(equals + 1));
        process.setProcessEnvironment(environment);
    }
    connect(&process, &QProcess::readyReadStandardOutput, this, [this, &run]() {
        takeLines(&run, run.pendingOutput, run.process->readAllStandardOutput(), "stdout: ");
    });
    WaitLoop wait(QEventLoop::AllEvents);
    connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &wait,
            [this, &run, &wait](int exitCode, QProcess::ExitStatus status) {
                processFinished(run, exitCode, status);
                wait.Finish();
            });
    connect(&process, &QProcess::errorOccurred, &wait, [&run, &wait](QProcess::ProcessError error) {
        // A command that cannot start never finishes: end the run here.
        if (error != QProcess::FailedToStart)
            return;
        Logging(2) << "Utils::ExecuteProgressShell could not start" << run.process->program()
                   << run.process->errorString();
        run.exitCode = FailedStartCode;
        wait.Finish();
    });
    process.start(program, args);
    if (wait.Wait() != WaitLoop::Done) {
        // The application is quitting: the command is stopped and the run is no success.
        Logging(2) << "Utils::ExecuteProgressShell ended before" << program;
        process.disconnect();
        process.kill();
        process.waitForFinished(1000);
        run.exitCode = InterruptedCode;
    }
    process.disconnect();

    // Lines still without their line end when the command ended are lines all the same.
    takeLines(&run, run.pendingOutput, "\n", "stdout: ");
    takeLines(&run, run.pendingError, "\n", "stdErr: ");
    activeRun = outerRun;
    if (ownsDialog && run.dialog) {
        run.dialog->hide();
        run.dialog->close();
        run.dialog->deleteLater();
    }
    return run.exitCode;
}

void Utils::processFinished(ProgressRun &run, int exitCode, QProcess::ExitStatus status)
{
    // Whatever is still buffered belongs to the run.
    if (!run.merged)
        takeLines(&run, run.pendingError, run.process->readAllStandardError(), "stdErr: ");
    takeLines(&run, run.pendingOutput, run.process->readAllStandardOutput(), "stdout: ");
    Logging(2) << "Utils::processFinished" << "exitCode" << exitCode << "exitStatus" << int(status);
    // A killed or crashed command never counts as a success.
    run.exitCode = status == QProcess::CrashExit ? CrashCode : exitCode;
}

void Utils::takeLines(ProgressRun *run, QString &pending, const QByteArray &chunk, const char *prefix)
{
    const int zero = chunk.indexOf('\0');
    pending += QString::fromLatin1(zero < 0 ? chunk : chunk.left(zero));
    if (pending.isEmpty() || pending == QLatin1String("\n")) {
        pending.clear();
        return;
    }
    QStringList pieces = pending.split('\n');
    // The last piece has no line end yet: keep it until the rest arrives.
    pending = pieces.takeLast();
    for (const QString &piece : qAsConst(pieces)) {
        DebugLog(QString::fromLatin1(prefix) + piece);
        processLine(run, piece);
    }
}

QString Utils::TrimQuotes(QString text)
{
    text = text.trimmed();
    if (text.startsWith('"')) {
        text.remove(0, 1);
        const int last = text.lastIndexOf('"');
        if (last >= 0)
            text.remove(last, 1);
    }
    return text;
}

void Utils::ProcessLine(QString line)
{
    processLine(activeRun, line);
}

void Utils::processLine(ProgressRun *run, QString line)
{
    line = line.trimmed();
    if (line.contains('\n'))
        line = line.replace('\n', ' ').trimmed();
    if (line.isEmpty())
        return;
    line.remove('"');
    Progress *dialog = run ? run->dialog.data() : nullptr;
    int &progressValue = run ? run->value : idleProgressValue;
    if (line.startsWith(QLatin1String("XXX"))) {
        line = line.remove(QStringLiteral("XXX")).trimmed();
        if (!line.isEmpty() && dialog)
            dialog->setLabel(TrimQuotes(line));
    } else if (line.startsWith(QLatin1String("YYY"))) {
        line.remove(QStringLiteral("YYY"));
        if (dialog)
            dialog->appendLabel(QStringLiteral("   ") + TrimQuotes(line));
    } else if (line.startsWith(QLatin1String("TTT"))) {
        line.remove(QStringLiteral("TTT"));
        if (dialog)
            dialog->SetTitleLabel(TrimQuotes(line));
    } else if (line.startsWith(QLatin1String("LLL"))) {
        line.remove(QStringLiteral("LLL"));
        Logging(2) << line;
    } else if (line.contains(QLatin1String("checkpoint"))) {
        ++progressValue;
        if (dialog)
            dialog->setProgress(progressValue);
    } else {
        bool number = false;
        const int value = line.toInt(&number, 10);
        if (number) {
            progressValue = value;
            if (dialog)
                dialog->setProgress(value);
        }
    }
}

void Utils::processUdpData(const QStringList &lines)
{
    for (const QString &line : lines) {
        DebugLog(QStringLiteral("udp: ") + line);
        ProcessLine(line);
    }
}

// ---- asynchronous runs -----------------------------------------------------------------------

bool Utils::SpawnShell(const QString &program, const QStringList &args)
{
    if (spawnProcess->state() != QProcess::NotRunning) {
        // The running command (a LAN boot switch half way) is never stopped for another.
        Logging(2) << "Utils::SpawnShell refused" << program << "while" << spawnProcess->program() << "runs";
        return false;
    }
    spawnExitCode = -1;
    spawnOutput.clear();
    LogMsg(program + ' ' + args.join(' ') + "\n");
    spawnProcess->start(program, args);
    spawnProcess->waitForStarted(START_WAIT_MS);
    return true;
}

void Utils::onProcessFinished(int exitCode, QProcess::ExitStatus status)
{
    QByteArray output = spawnProcess->readAll();
    const int zero = output.indexOf('\0');
    if (zero >= 0)
        output.truncate(zero);
    spawnOutput = QString::fromUtf8(output);
    spawnEnded(status == QProcess::CrashExit ? CrashCode : exitCode);
}

void Utils::onSpawnError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return;
    // Without this the caller would wait for a finish that never comes.
    spawnOutput = spawnProcess->errorString();
    Logging(2) << "Utils::SpawnShell could not start" << spawnProcess->program() << spawnOutput;
    spawnEnded(FailedStartCode);
}

void Utils::spawnEnded(int exitCode)
{
    spawnExitCode = exitCode;
    if (spawnHoldsPxeSwitch) {
        spawnHoldsPxeSwitch = false;
        DriveJob::Release(PXE_SWITCH_JOB);
    }
    emit SpawnedThreadFinished(spawnExitCode);
}

// ---- watched runs ----------------------------------------------------------------------------

QProcess *Utils::CreateWatchedProcess(QObject *owner)
{
    return new QProcess(owner);
}

void Utils::StartWatchedProcess(QProcess *process, const QString &program, const QStringList &args)
{
    LogMsg(program + ' ' + args.join(' ') + "\n");
    process->start(program, args, QIODevice::ReadWrite);
}

// ---- busy marker, side logs, start-up helpers ------------------------------------------------

void Utils::setBusyFlag()
{
    WriteFile(RCV_PID, QByteArray::number(QCoreApplication::applicationPid()));
}

void Utils::clearBusyFlag()
{
    if (QFile::exists(RCV_PID))
        QFile::remove(RCV_PID);
}

void Utils::InitLogger(int level)
{
    Logging::GetInstance(level, false);
}

QStringList Utils::GetCmdLineOptions()
{
    QFile file(QStringLiteral("/proc/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QByteArray text = file.readAll().trimmed();
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromLatin1(text).split(' ');
}

void Utils::UpdateDefaultFontSize(int points, const QString &styleSheetPath)
{
    const QString message = QStringLiteral("UpdateDefaultFontSize %1").arg(points);
    LogMsg(message);
    Logging(2) << message;
    const QString path = styleSheetPath.isEmpty() ? DEFAULT_STYLE_SHEET : styleSheetPath;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QString sheet = QString::fromLatin1(file.readAll());
    file.close();
    Logging(2) << "Opened" << path << " for read";
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Logging(2) << "Opened" << path << " for Write";
        static const QRegularExpression fontRule(QStringLiteral("font: 63 [0-9]+pt"));
        sheet.replace(fontRule, QStringLiteral("font: 63 %1pt").arg(points));
        file.write(sheet.toLatin1());
        file.flush();
        file.close();
        for (const QString &line : sheet.split('\n'))
            if (line.contains(QLatin1String("font:")))
                qDebug() << line;
    }
    ExecuteShell(QStringLiteral("sync"), 60000);
}

void Utils::SetDefaultStyleSheet(QWidget *widget, const QString &styleSheetPath)
{
    QFile file(styleSheetPath.isEmpty() ? DEFAULT_STYLE_SHEET : styleSheetPath);
    if (!widget || !file.open(QIODevice::ReadOnly))
        return;
    QByteArray sheet = file.readAll();
    const int zero = sheet.indexOf('\0');
    if (zero >= 0)
        sheet.truncate(zero);
    widget->setStyleSheet(QString::fromLatin1(sheet));
}

void Utils::LogMsg(const QString &text, bool alsoMainLog)
{
    WriteFile(SIDE_LOG, text.toLatin1(), true);
    if (alsoMainLog)
        Logging(2) << text;
}

void Utils::DebugLog(const QString &text)
{
    WriteFile(DBG_FILE, (text + "\n").toLatin1(), true);
}

void Utils::RemoveDebugLog()
{
    QFile::remove(DBG_FILE);
}

bool Utils::WriteFile(const QString &path, const QByteArray &content, bool append)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate)))
        return false;
    return file.write(content) == content.size();
}

QByteArray Utils::ReadFileHead(const QString &path, int maxBytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QByteArray data;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        data.resize(maxBytes);
        const ssize_t got = ::read(fd, data.data(), size_t(maxBytes));
        data.resize(got > 0 ? int(got) : 0);
    }
    ::close(fd);
    return data;
}

// ---- LAN boot state --------------------------------------------------------------------------

bool Utils::GetPxeSwitchEnabled()
{
    const QStringList lines = ExecuteShell(QStringLiteral("get_pxeswitch.sh"), 60000);
    for (const QString &line : lines)
        qDebug() << line;
    if (lines.size() < 2)
        return false;
    return lines.at(1).contains(QLatin1String("enabled"));
}

bool Utils::CheckPxeStatus()
{
    const QStringList lines = ExecuteShell(QStringLiteral("get_pxeswitch.sh"), 60000);
    return !lines.value(0).toLower().contains(QLatin1String("unknown"));
}
