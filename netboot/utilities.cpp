#include "utilities.h"

#include <QFile>
#include <QProcess>

#include <cstdio>

Utilities *utils = nullptr;
Utilities *Utilities::_myInstance = nullptr;
bool Utilities::_testMode = false;

Utilities::Utilities(QObject *parent)
    : QObject(parent)
{
}

Utilities *Utilities::GetInstance()
{
    if (!_myInstance)
        _myInstance = new Utilities();
    return _myInstance;
}

void Utilities::setDebugLevel(int level)
{
    switch (level) {
    case 0: debugThreshold = -1; break;
    case 1: debugThreshold = 0; break;
    case 2: debugThreshold = 1; break;
    case 3: debugThreshold = 2; break;
    case 4: debugThreshold = 3; break;
    default: debugThreshold = 99; break;
    }
}

void Utilities::SetTestMode(bool on)
{
    _testMode = on;
}

bool Utilities::TestMode()
{
    return _testMode;
}

// Tool output is plain text; anything after a zero byte is noise from the tool.
QString Utilities::Latin1UpToZero(const QByteArray &bytes)
{
    int length = bytes.indexOf('\0');
    if (length < 0)
        length = bytes.size();
    return QString::fromLatin1(bytes.constData(), length);
}

QString Utilities::ExecuteCmdString(const QString &program, const QStringList &arguments, bool toTheEnd)
{
    auto *process = new QProcess();
    process->setProcessChannelMode(QProcess::MergedChannels);
    // Nothing is ever typed into a setup tool: one that asks on its standard input finds it
    // empty and goes on, instead of waiting for ever with the firmware lock held.
    process->setStandardInputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(COMMAND_TIMEOUT_MS)) {
        delete process;
        return QString();
    }
    bool finished = process->waitForFinished(COMMAND_TIMEOUT_MS);
    if (!finished && toTheEnd) {
        // A firmware write past its time limit is still writing the flash: its caller holds the
        // firmware lock until it has ended, and its output is read to the end, so that it
        // never meets a closed pipe half-way.
        LogMessage(-1, QString("%1 still running after %2 ms, waiting for it to end")
                           .arg(program).arg(COMMAND_TIMEOUT_MS));
        finished = process->waitForFinished(-1);
    }
    const QString output = Latin1UpToZero(process->readAll());
    if (finished) {
        delete process;
    } else {
        // A firmware tool past its time limit may be in the middle of writing the flash: it is
        // left to finish on its own rather than killed half-way.
        LogMessage(-1, QString("%1 still running after %2 ms, left running")
                           .arg(program).arg(COMMAND_TIMEOUT_MS));
        process->closeReadChannel(QProcess::StandardOutput);
    }
    return output;
}

QStringList Utilities::ExecuteCmd(const QString &program, const QStringList &arguments)
{
    return ExecuteCmdString(program, arguments).split("\n");
}

// No shell: the line is cut at every single blank, so two blanks in a row give an empty argument.
QString Utilities::GetCommandResults(const QString &commandLine, bool toTheEnd)
{
    QStringList parts = commandLine.split(" ");
    const QString program = parts.takeFirst();
    return ExecuteCmdString(program, parts, toTheEnd);
}

QStringList Utilities::ReadTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    const QString text = Latin1UpToZero(file.readAll());
    file.close();
    return text.split("\n");
}

bool Utilities::WriteTextFile(const QString &path, const QStringList &lines, bool append)
{
    QFile file(path);
    const QIODevice::OpenMode mode = append ? (QIODevice::WriteOnly | QIODevice::Append)
                                            : (QIODevice::WriteOnly | QIODevice::Truncate);
    if (!file.open(mode))
        return false;
    file.write((lines.join("\n") + "\n").toLatin1());
    file.flush();
    file.close();
    return true;
}

void Utilities::LogMessage(DebugLevel level, const QString &message)
{
    if (!(level <= debugThreshold || level == -1))
        return;
    QFile file(dbugLog);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write((message + "\n").toLatin1());
        file.close();
    }
    OutputMessageToTerminal(message);
}

void Utilities::OutputMessageToTerminal(const QString &message)
{
    const QByteArray line = message.toLatin1() + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fflush(stdout);
}

void PrintInfo(const QStringList &lines)
{
    Utilities *u = Utilities::GetInstance();
    for (const QString &line : lines)
        u->OutputMessageToTerminal(line);
}
