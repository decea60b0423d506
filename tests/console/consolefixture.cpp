#include "consolefixture.h"

#include "dialogdriver.h"
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

// Accepts or rejects a dialog as its buttons would, after noting what it said.
static DialogDriver::Step answer(bool accept, Answer *result)
{
    return [accept, result](QWidget *dialog) {
        result->seen = true;
        result->title = dialog->windowTitle();
        result->text = visibleText(dialog);
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (box) {
            for (QAbstractButton *button : box->buttons()) {
                const QMessageBox::ButtonRole role = box->buttonRole(button);
                if (accept ? (role == QMessageBox::AcceptRole || role == QMessageBox::YesRole)
                           : (role == QMessageBox::RejectRole || role == QMessageBox::NoRole)) {
                    button->click();
                    return;
                }
            }
        }
        if (auto *plain = qobject_cast<QDialog *>(dialog))
            accept ? plain->accept() : plain->reject();
    };
}

QList<Answer *> answerDialogs(const QList<bool> &accepts, int timeoutMs)
{
    QList<Answer *> results;
    QList<DialogDriver::Step> steps;
    for (bool accept : accepts) {
        results << new Answer;
        steps << answer(accept, results.last());
    }
    // The driver outlives the call: it acts while the code under test waits in exec().
    auto *driver = new DialogDriver(steps, timeoutMs);
    QTimer::singleShot(timeoutMs + 1000, driver, &QObject::deleteLater);
    return results;
}

Answer *answerNextDialog(bool accept, int timeoutMs)
{
    return answerDialogs({accept}, timeoutMs).first();
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
    return Sandbox::sh(QStringLiteral("sbx_usb_view ") + partitions.join(' ')).exitCode == 0;
}

QString mainLog()
{
    return QString::fromLatin1(Sandbox::readFile(QStringLiteral("/var/log/pxe_client.log")));
}

}
