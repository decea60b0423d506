#pragma once
// What the console tests share: answering the console's modal questions as a technician would,
// waiting for something to happen without fixed sleeps, and the files a unit's service
// environment provides (style sheet, /etc/version, the system drive's name).

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace ConsoleFixture {

// Waits (serving events) until condition holds or timeoutMs passes; returns the condition.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

// The next modal dialog that opens (a ConfirmationDialog, a message box, a file dialog ...) is
// answered: accepted or rejected. Its window title and visible text are stored for the caller.
struct Answer {
    bool seen = false;
    QString title;
    QString text;
};
Answer *answerNextDialog(bool accept, int timeoutMs = 20000);
// Several answers in a row, in the order the dialogs appear.
QList<Answer *> answerDialogs(const QList<bool> &accepts, int timeoutMs = 20000);

// The style sheet the service environment supplies, with two font rules of size points.
void writeStyleSheet(int points = 16);
// /etc/version's first line.
void writeVersion(const QString &line);
// Replaces /proc/cmdline inside the test's mount namespace.
bool setKernelCommandLine(const QString &line);
// Shows the given partitions (/dev/loop5p1 ...) to the console as partitions of USB sticks
// (sbx_usb_view: a /sys/class/block view bound over the real one).
bool showAsUsbPartitions(const QStringList &partitions);
// The console's main log, whole.
QString mainLog();

}
