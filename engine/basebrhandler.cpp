#include "basebrhandler.h"
#include "imagecodec.h"

#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/stat.h>

baseBrHandler::baseBrHandler(QObject *parent)
    : SystemUtils(parent)
{
    setSplitSizes(1024);
    // A chunk size of 0 MB cannot cut anything; such a value is ignored like any other that
    // is not a whole number.
    bool ok = false;
    const uint mb = qEnvironmentVariable("SPLIT_SIZE").toUInt(&ok, 10);
    if (ok && mb > 0)
        setSplitSizes(mb);
    const int stall = qEnvironmentVariable("STALL_TIMEOUT").toInt(&ok, 10);
    if (ok && stall > 0)
        stallSeconds = stall;

    watchdog = new QTimer(this);
    process = new QProcess(this);
    connect(watchdog, &QTimer::timeout, this, &baseBrHandler::OnTimerTimeout);
    connect(process, &QProcess::readyReadStandardError, this, &baseBrHandler::OnErrorDataAvailable);
    connect(process, &QProcess::readyReadStandardOutput, this, &baseBrHandler::OnDataAvailable);
    connect(process, &QProcess::errorOccurred, this, &baseBrHandler::OnErrorOccurred);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &baseBrHandler::OnFinished);
    connect(process, &QProcess::started, this, &baseBrHandler::OnStarted);
}

baseBrHandler::~baseBrHandler()
{
    // A handler destroyed while its child runs must not leave the child behind.
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

void baseBrHandler::setSplitSizes(quint32 mb)
{
    // A piece of 4 GiB or more could not be copied to a FAT32 stick.
    splitSizeMb = std::min(mb, MAX_SPLIT_MB);
    splitBytes = quint64(splitSizeMb) * 1048576ULL;
}

myProcess baseBrHandler::SplitStage(const QString &prefix, quint64 pieceBytes)
{
    // split numbers the pieces with six digits; each piece goes through a filter that names it
    // with at least three (x.000 ... x.999, x.1000 ...). The filter runs under the shell SHELL
    // names, set to sh here, and finds the number after the last dot of split's name; expr drops
    // the leading zeros, which printf would read as octal.
    const QString name = QStringLiteral("n=$(expr \"${FILE##*.}\" + 0); exec cat > \"$(printf \"%s.%03d\" \"${FILE%.*}\" \"$n\")\"");
    return myProcess{QStringLiteral("SHELL=/bin/sh split"),
                     {QStringLiteral("-a 6"), QStringLiteral("-d"), QStringLiteral("-b %1").arg(pieceBytes),
                      QStringLiteral("--filter=") + ShellQuote(name), QStringLiteral("-"), ShellQuote(prefix + '.')}};
}

myProcess baseBrHandler::PiecesStage(const QStringList &pieces)
{
    QStringList quoted;
    for (const QString &piece : pieces)
        quoted << ShellQuote(piece);
    return myProcess{QStringLiteral("cat"), quoted};
}

void baseBrHandler::ClearResultVariables(const QString &logFile, const QString &secondText)
{
    runLogFile = logFile;
    runSecondText = secondText;
    exitCode = 0;
    exitStatus = 0;
    processError = 0;
    pendingOut.clear();
    pendingErr.clear();
    outDecoder.reset();
    errDecoder.reset();
    watchdogTicks = 0;
    checkpointCount = 0;
    lastGauge = 0;
    lastStatusPercent = 0.0;
    nextEchoPercent = 0.0;
}

int baseBrHandler::ExecuteAndWait(const QString &program, const QStringList &arguments, const QString &logFile,
                                  const QString &secondText, StopRules::Step step)
{
    lastGauge = 0;
    ClearResultVariables(logFile, secondText);
    programName = program;
    // The status file belongs to this run only: one left by an earlier pipeline must never
    // be read as this run's result.
    QFile::remove(pipeStatus);

    QString name = program;
    QStringList args = arguments;
    if (args.isEmpty()) {
        args = QProcess::splitCommand(program);
        name = args.isEmpty() ? QString() : args.takeFirst();
    }
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(name, args, QIODevice::ReadWrite);
    watchdog->start(1000);
    if (!process->waitForStarted(30000)) {
        watchdog->stop();
        return 1006;
    }
    // Nothing is ever fed to the pipeline: a stage reading its standard input sees its end.
    process->closeWriteChannel();

    // The operator's abort request and a pipeline that stopped moving end the run here, within
    // seconds; nothing else would, a tool hanging on a failing drive waits for ever. A step that
    // changes a volume in place is left to finish: the request is honoured by the caller when it
    // has ended, and a stall is only reported.
    const bool interruptible = StopRules::mayInterrupt(step);
    bool stopDeferred = false;
    int stopped = 0;
    quint64 traffic = 0;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (running || process->state() != QProcess::NotRunning) {
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
        loop.exec();
        if (process->state() == QProcess::NotRunning)
            continue;
        const QList<qint64> pids = pipelineProcesses();
        const quint64 now = pipelineTraffic(pids);
        if (now != traffic || watchdogTicks <= 1) {
            traffic = now;
            sinceProgress.restart();
        }
        if (abortFileExists() && interruptible) {
            ShowMessage(QStringLiteral("Abort Requested, stopping %1").arg(pipelineTools(pids)), true);
            stopped = RUN_ABORTED;
        } else if (abortFileExists() && !stopDeferred) {
            ShowMessage(QStringLiteral("Abort Requested: %1 %2 and cannot be stopped safely; the run stops when it has finished")
                            .arg(pipelineTools(pids), QLatin1String(StopRules::describe(step))),
                        true);
            stopDeferred = true;
        } else if (sinceProgress.elapsed() >= qint64(stallSeconds) * 1000) {
            if (interruptible) {
                ShowMessage(QStringLiteral("ERROR: %1 made no progress for %2 seconds and was stopped")
                                .arg(stalledTools(pids))
                                .arg(stallSeconds),
                            true);
                stopped = RUN_STALLED;
            } else {
                ShowMessage(QStringLiteral("WARNING: %1 made no progress for %2 seconds; it %3 and is left to finish")
                                .arg(stalledTools(pids), QString::number(stallSeconds),
                                     QLatin1String(StopRules::describe(step))),
                            true);
                sinceProgress.restart();
            }
        }
        if (stopped != 0) {
            stopPipeline();
            break;
        }
    }
    watchdog->stop();

    // A last line without a line end is still a line of the run.
    takeOutput(process->readAllStandardOutput(), pendingOut, outDecoder);
    takeOutput(process->readAllStandardError(), pendingErr, errDecoder);
    for (QString *pending : {&pendingOut, &pendingErr}) {
        if (!pending->isEmpty()) {
            const QString line = *pending;
            pending->clear();
            ProcessDataLine(line);
        }
    }

    if (stopped != 0)
        return stopped;
    int result = exitCode;
    if (result == 0 && exitStatus == QProcess::CrashExit)
        result = 1;
    if (result == 0)
        result = pipelineResult();
    return result;
}

// ---------------------------------------------------------------- stopping a pipeline

// The children of every process, from the parent field of /proc/PID/stat.
static QMultiMap<qint64, qint64> processChildren()
{
    QMultiMap<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.insert(fields.at(1).toLongLong(), pid);
    }
    return children;
}

QList<qint64> baseBrHandler::pipelineProcesses() const
{
    QList<qint64> pids;
    const qint64 root = process->processId();
    if (root <= 0)
        return pids;
    const QMultiMap<qint64, qint64> children = processChildren();
    pids << root;
    // Children in the order they were started: the stages of a pipeline from first to last.
    for (int i = 0; i < pids.size(); ++i) {
        QList<qint64> started = children.values(pids.at(i));
        std::sort(started.begin(), started.end());
        pids << started;
    }
    return pids;
}

quint64 baseBrHandler::pipelineTraffic(const QList<qint64> &pids) const
{
    quint64 total = 0;
    for (qint64 pid : pids) {
        QFile io(QStringLiteral("/proc/%1/io").arg(pid));
        if (!io.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : io.readAll().split('\n')) {
            if (line.startsWith("rchar:") || line.startsWith("wchar:"))
                total += line.mid(6).trimmed().toULongLong();
        }
    }
    return total;
}

QString baseBrHandler::pipelineTools(const QList<qint64> &pids) const
{
    return stalledTools(pids, false);
}

QString baseBrHandler::stalledTools(const QList<qint64> &pids, bool onlyStuck) const
{
    // A stage that waits for its neighbour sleeps in a pipe; the script's shell waits for its
    // children. What remains is the tool that holds everything up.
    QStringList all;
    QStringList stuck;
    for (qint64 pid : pids.mid(1)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
        const QByteArray waits = wchan.open(QIODevice::ReadOnly) ? wchan.readAll().trimmed() : QByteArray();
        if (name == QLatin1String("bash") || name == QLatin1String("sh"))
            continue;
        all << name;
        // pipe_read, pipe_write (anon_pipe_read ... on newer kernels) and do_wait.
        if (!waits.contains("pipe_") && waits != "do_wait")
            stuck << name;
    }
    const QStringList named = stuck.isEmpty() || !onlyStuck ? all : stuck;
    return named.isEmpty() ? programName : named.join(QLatin1String(", "));
}

void baseBrHandler::stopPipeline()
{
    // The script's shell would not pass a signal on to its pipeline: every process gets it.
    QList<qint64> pids = pipelineProcesses();
    for (qint64 pid : qAsConst(pids))
        ::kill(pid_t(pid), SIGTERM);
    if (process->waitForFinished(3000))
        return;
    pids = pipelineProcesses();
    for (qint64 pid : qAsConst(pids))
        ::kill(pid_t(pid), SIGKILL);
    process->waitForFinished(3000);
}

bool baseBrHandler::TargetIsBlockDevice(const QString &partition)
{
    struct stat st;
    if (::stat(QFile::encodeName(partition).constData(), &st) == 0 && S_ISBLK(st.st_mode))
        return true;
    ShowMessage(QStringLiteral("ERROR: %1 is not a block device").arg(partition));
    return false;
}

myProcess baseBrHandler::CompressStage(const QStringList &extra)
{
    const ImageCodec requested = ImageCodec::Requested();
    return (requested.isKnown() ? requested : ImageCodec(ImageCodec::Gzip)).CompressStage(extra);
}

bool baseBrHandler::ImageReadStages(const QStringList &files, QList<myProcess> &stages)
{
    const QString why = ImageCodec::Unreadable(files);
    if (!why.isEmpty()) {
        ShowMessage(QStringLiteral("ERROR: ") + why);
        return false;
    }
    const ImageCodec codec = ImageCodec::OfFile(files.first());
    if (files.size() == 1) {
        stages << codec.DecompressStage(ShellQuote(files.first()));
    } else {
        stages << PiecesStage(files) << codec.DecompressStage(QStringLiteral("-"));
    }
    return true;
}

int baseBrHandler::pipelineResult() const
{
    QFile f(pipeStatus);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    QByteArray bytes = f.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const QStringList codes = QString::fromLocal8Bit(bytes).trimmed().split(' ', Qt::SkipEmptyParts);
    for (const QString &code : codes) {
        if (code == QLatin1String("0"))
            continue;
        bool ok = false;
        const int value = code.toInt(&ok, 10);
        return ok ? value : 1;
    }
    return 0;
}

// ---------------------------------------------------------------- process signals

void baseBrHandler::OnStarted()
{
    LogDebug(QStringLiteral("Process Started"), true);
    running = true;
}

void baseBrHandler::OnFinished(int code, QProcess::ExitStatus status)
{
    running = false;
    watchdog->stop();
    LogDebug(QStringLiteral("%1 Finished: exitCode=%2, exitStatus=%3").arg(programName).arg(code).arg(int(status)),
             true);
    exitCode = code;
    exitStatus = int(status);
}

void baseBrHandler::OnErrorOccurred(QProcess::ProcessError error)
{
    ErrorMesg(QStringLiteral("ERROR REPORTED %1").arg(int(error)));
    processError = int(error);
}

void baseBrHandler::OnTimerTimeout()
{
    ++watchdogTicks;
    if (watchdogTicks > WATCHDOG_LIMIT)
        LogDebug(QStringLiteral("WATCHDOG TIMER TRIP %1").arg(watchdogTicks), true);
}

void baseBrHandler::OnDataAvailable()
{
    watchdogTicks = 0;
    takeOutput(process->readAllStandardOutput(), pendingOut, outDecoder);
}

void baseBrHandler::OnErrorDataAvailable()
{
    watchdogTicks = 0;
    takeOutput(process->readAllStandardError(), pendingErr, errDecoder);
}

void baseBrHandler::takeOutput(const QByteArray &bytes, QString &pending, std::unique_ptr<QTextDecoder> &decoder)
{
    if (bytes.isEmpty())
        return;
    QByteArray data = bytes;
    const int zero = data.indexOf('\0');
    if (zero >= 0)
        data.truncate(zero);
    // Progress tools redraw one line with carriage returns: every redraw becomes a line.
    // A character cut between two reads is completed by the next one.
    if (!decoder)
        decoder.reset(QTextCodec::codecForName("UTF-8")->makeDecoder());
    QString text = pending + decoder->toUnicode(data);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    pending = lines.takeLast();
    for (const QString &line : qAsConst(lines))
        ProcessDataLine(line);
}

// ---------------------------------------------------------------- line grammar

void baseBrHandler::ProcessDataLine(const QString &line)
{
    static const QRegularExpression tarCheckpoint(QStringLiteral("tar.*checkpoint"));
    if (line.contains(QLatin1String("ercent"))) {
        ProcessPercentage(line);
        return;
    }
    if (tarCheckpoint.match(line).hasMatch()) {
        // The handler sets the checkpoint interval so that about 100 of them cover the archive.
        ++checkpointCount;
        ProcessPercentage(QStringLiteral("%1.00 percent completed").arg(checkpointCount));
        return;
    }
    ShowMessage(line, false, runLogFile);
    if (line.endsWith(QLatin1String("..."))) {
        // A tool announcing its next step: that is the task the operator sees.
        if (runLogFile != logFile) {
            LogMessage(line, logFile, false);
            LogMessage(line, debugLogFile, false);
        }
        UpdateTaskInfo(line);
    }
}

void baseBrHandler::ProcessPercentage(const QString &line)
{
    bool ok = false;
    const double pct = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toDouble(&ok);
    if (!ok)
        return;
    const long rounded = std::lround(pct);   // halves away from zero

    bool newRun = false;
    if (pct < 1.0 && lastStatusPercent > 10.0) {
        lastStatusPercent = 0.0;
        nextEchoPercent = 0.0;
        newRun = true;
    }
    const double threshold = lastStatusPercent + 0.2;

    // At most one line per 10 % band reaches the console.
    if (pct >= nextEchoPercent || (newRun && pct >= 0.0)) {
        ShowMessage(line, false, QString());
        while (nextEchoPercent <= pct)
            nextEchoPercent += 10.0;
    }
    // The status file changes only when progress moved by more than 0.2 %.
    if (pct > threshold) {
        UpdateStatusInfo(line);
        LogDebug(line, true);
        lastStatusPercent = pct;
    }
    // The gauge never moves backwards within a pass; a new pass after 100 % starts again.
    if (rounded <= 0 && lastGauge == 100) {
        lastGauge = 0;
        return;
    }
    if (rounded > lastGauge) {
        UpdateGauge(int(rounded), QString(), QString(), QString());
        lastGauge = int(rounded);
    }
}
