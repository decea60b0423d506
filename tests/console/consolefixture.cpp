#include "consolefixture.h"

#include "sandbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace ConsoleFixture {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

static QString visibleText(QWidget *dialog)
{
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        return box->text();
    QStringList texts;
    for (QLabel *label : dialog->findChildren<QLabel *>())
        if (!label->text().isEmpty())
            texts << label->text();
    return texts.join('\n');
}

static void answer(QWidget *dialog, bool accept, Answer *result)
{
    result->seen = true;
    result->title = dialog->windowTitle();
    result->text = visibleText(dialog);
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        QAbstractButton *button = nullptr;
        for (QAbstractButton *candidate : box->buttons()) {
            const QMessageBox::ButtonRole role = box->buttonRole(candidate);
            if (accept ? (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole)
                       : (role == QMessageBox::RejectRole || role == QMessageBox::NoRole))
                button = candidate;
        }
        if (button)
            button->click();
        else
            box->done(accept ? QMessageBox::Ok : QMessageBox::Cancel);
        return;
    }
    if (auto *plain = qobject_cast<QDialog *>(dialog)) {
        if (accept)
            plain->accept();
        else
            plain->reject();
    }
}

Answer *answerNextDialog(bool accept, int timeoutMs)
{
    auto *result = new Answer;
    auto *poll = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            poll->stop();
            answer(modal, accept, result);
            poll->deleteLater();
            delete clock;
        } else if (clock->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            delete clock;
        }
    });
    poll->start(50);
    return result;
}

QList<Answer *> answerDialogs(const QList<bool> &accepts, int timeoutMs)
{
    QList<Answer *> results;
    for (int i = 0; i < accepts.size(); ++i)
        results << new Answer;
    auto *poll = new QTimer;
    auto *next = new int(0);
    auto *lastDialog = new QPointer<QWidget>();
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [=]() {
        QWidget *modal = QApplication::activeModalWidget();
        // A dialog already answered may still be on its way out.
        if (modal && modal->isVisible() && modal != lastDialog->data()) {
            *lastDialog = modal;
            answer(modal, accepts.at(*next), results.at(*next));
            ++*next;
            clock->restart();
        }
        if (*next >= accepts.size() || clock->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            delete next;
            delete lastDialog;
            delete clock;
        }
    });
    poll->start(50);
    return results;
}

void writeStyleSheet(int points)
{
    const QByteArray sheet = QStringLiteral("QWidget { font: 63 %1pt \"DejaVu Sans\"; }\n"
                                            "QPushButton { font: 63 %1pt \"DejaVu Sans\"; min-height: 20px; }\n"
                                            "QLabel { color: rgb(0, 0, 80); }\n").arg(points).toLatin1();
    Sandbox::sh("mkdir -p /root/.config");
    Sandbox::writeFile(QStringLiteral("/root/.config/default.css"), sheet);
}

void writeVersion(const QString &line)
{
    Sandbox::writeFile(QStringLiteral("/etc/version"), (line + "\n").toLatin1());
}

bool setKernelCommandLine(const QString &line)
{
    const QString file = Sandbox::root() + "/cmdline";
    Sandbox::writeFile(file, (line + "\n").toLatin1());
    Sandbox::sh("umount /proc/cmdline 2>/dev/null");
    return Sandbox::sh(QStringLiteral("mount --bind '%1' /proc/cmdline").arg(file)).exitCode == 0;
}

bool showAsUsbPartitions(const QStringList &partitions)
{
    const QString view = Sandbox::root() + "/sysview";
    const QString devices = Sandbox::root() + "/sysdevices/pci0000:00/usb1/1-1/1-1:1.0/block";
    QString script = QStringLiteral("umount /sys/class/block 2>/dev/null; rm -rf '%1' && mkdir -p '%1' && "
                                    "for e in /sys/class/block/*; do ln -s \"$(readlink -f \"$e\")\" '%1'/\"${e##*/}\"; done")
                         .arg(view);
    for (const QString &partition : partitions) {
        const QString name = partition.mid(partition.lastIndexOf('/') + 1);
        const QString entry = devices + '/' + name;
        script += QStringLiteral(" && mkdir -p '%1' && echo 1 > '%1/partition' && rm -f '%2/%3' && ln -s '%1' '%2/%3'")
                      .arg(entry, view, name);
    }
    script += QStringLiteral(" && mount --bind '%1' /sys/class/block").arg(view);
    return Sandbox::sh(script).exitCode == 0;
}

QString mainLog()
{
    return QString::fromLatin1(Sandbox::readFile(QStringLiteral("/var/log/pxe_client.log")));
}

}
