#include "logging.h"

#include "constants.h"

#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QTextEdit>

QString Logging::logFileName = LOG_FILE;
int Logging::currentLevel = 2;
QTextEdit *Logging::pane = nullptr;
QMutex Logging::mutex;
Logging *Logging::instance = nullptr;

static const int MUTEX_WAIT_MS = 1000;

Logging::Logging(LoggingLevel lineLevel) : record(new Record)
{
    record->level = lineLevel;
}

Logging::Logging()
{
    logFileName = LOG_FILE;
    level = 1;
    currentLevel = 1;
    qDebug() << "Create Logging::Logging()" << level;
}

Logging::~Logging()
{
    if (!record)
        return;
    if (record->level <= currentLevel) {
        record->stream.flush();
        writeLine(record->buffer);
    }
    delete record;
}

Logging &Logging::operator<<(const QString &text)
{
    record->stream << text;
    record->stream.flush();
    if (!record->buffer.isEmpty())
        record->stream << ' ';
    return *this;
}

Logging &Logging::operator<<(const char *text)
{
    return *this << QString::fromUtf8(text);
}

Logging &Logging::operator<<(int value)
{
    return *this << QString::number(value);
}

Logging &Logging::operator<<(qint64 value)
{
    return *this << QString::number(value);
}

Logging &Logging::operator<<(const QStringList &list)
{
    return *this << list.join(QStringLiteral(", "));
}

Logging *Logging::GetInstance(LoggingLevel newLevel, bool deleteLog)
{
    if (!instance)
        instance = new Logging();
    if (deleteLog)
        instance->DeleteLogFile();
    if (newLevel <= 6)
        instance->SetLoggingLevel(newLevel);
    return instance;
}

void Logging::SetLoggingLevel(LoggingLevel newLevel)
{
    if (newLevel < 2)
        newLevel = 1;
    level = newLevel;
    currentLevel = newLevel;
}

void Logging::SetTextEdit(QTextEdit *textEdit)
{
    pane = textEdit;
}

void Logging::DeleteLogFile()
{
    if (!mutex.tryLock(MUTEX_WAIT_MS))
        return;
    QFile::remove(logFileName);
    mutex.unlock();
}

void Logging::LogMessage(LoggingLevel lineLevel, const QString &text, bool echo)
{
    if (lineLevel > currentLevel)
        return;
    if (currentLevel == 6 || echo) {
        if (pane)
            pane->append(text);
        qDebug() << "Logging::LogMessage" << text;
    }
    Logging(lineLevel) << text;
}

void Logging::LogMessage(const QString &text, bool echo)
{
    LogMessage(currentLevel, text, echo);
}

void Logging::writeLine(const QString &text)
{
    if (!mutex.tryLock(MUTEX_WAIT_MS))
        return;
    QFile file(logFileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(text.toLatin1());
        file.write("\n");
        file.close();
    }
    mutex.unlock();
}
