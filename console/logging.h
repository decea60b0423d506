#pragma once
// The console's main log. A line object collects the items streamed into it and writes them as
// one line when it goes away: Logging(2) << "Usb mounted" << 1; writes "Usb mounted 1 \n" (every
// item is followed by a blank as soon as the line holds anything). No time stamp, no level tag;
// lines are written as Latin-1, each write opening, appending and closing the file.

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTextStream>

class QTextEdit;

typedef int LoggingLevel;

class Logging
{
public:
    // A line object.
    explicit Logging(LoggingLevel level);
    ~Logging();
    Logging(const Logging &) = delete;
    Logging &operator=(const Logging &) = delete;

    Logging &operator<<(const QString &text);
    Logging &operator<<(const char *text);
    Logging &operator<<(int value);
    Logging &operator<<(qint64 value);
    Logging &operator<<(const QStringList &list);

    // The process-wide logger: created on first use; deleteLog removes the log file; a level of 6
    // or lower becomes the current level (7 and above leave it unchanged).
    static Logging *GetInstance(LoggingLevel level, bool deleteLog);
    void SetLoggingLevel(LoggingLevel level);
    static void SetTextEdit(QTextEdit *pane);
    void DeleteLogFile();
    // Writes text as one line when level is not above the current level; at level 6 (or with
    // echo) also appends it to the log pane.
    void LogMessage(LoggingLevel level, const QString &text, bool echo = false);
    void LogMessage(const QString &text, bool echo = false);

    static QString logFileName;
    static int currentLevel;

private:
    Logging();   // the instance
    static void writeLine(const QString &text);

    struct Record {
        QString buffer;
        QTextStream stream{&buffer};
        LoggingLevel level = 2;
    };
    Record *record = nullptr;
    LoggingLevel level = 1;

    static QTextEdit *pane;
    static QMutex mutex;
    static Logging *instance;
};
