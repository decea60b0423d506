#pragma once
// Plays a technician through a flow of modal dialogs: each new modal dialog is handed to the next
// step, which acts on it as a person would (checks a radio button, types, clicks a button).
// Message boxes are recorded as "title: text" in seen.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

class DialogDriver : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    explicit DialogDriver(const QList<Step> &steps, int timeoutMs = 120000) : steps(steps), timeoutMs(timeoutMs)
    {
        clock.start();
        connect(&poll, &QTimer::timeout, this, [this]() { tick(); });
        poll.start(50);
    }

    int taken() const { return next; }
    QStringList seen;

    // A button of the dialog by its text (without mnemonics), clicked.
    static bool click(QWidget *dialog, const QString &text)
    {
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
            if (button->text().remove('&') == text && button->isVisible() && button->isEnabled()) {
                button->click();
                return true;
            }
        return false;
    }
    static bool check(QWidget *dialog, const QString &text)
    {
        for (QRadioButton *button : dialog->findChildren<QRadioButton *>())
            if (button->text() == text) {
                button->setChecked(true);
                return true;
            }
        return false;
    }
    // A step that cannot do what it says fails the test there and closes the dialog, so that
    // the flow ends at once instead of waiting for the driver's time limit.
    static Step choose(const QString &radio, const QString &button)
    {
        return [=](QWidget *dialog) {
            if (!radio.isEmpty() && !check(dialog, radio)) {
                fail(dialog, QStringLiteral("no radio button \"%1\" in %2").arg(radio, dialog->metaObject()->className()));
                return;
            }
            if (!click(dialog, button))
                fail(dialog, QStringLiteral("no enabled button \"%1\" in %2").arg(button, dialog->metaObject()->className()));
        };
    }
    static void fail(QWidget *dialog, const QString &what)
    {
        QTest::qFail(qPrintable(what), __FILE__, __LINE__);
        dialog->close();
    }
    static Step press(const QString &button) { return choose(QString(), button); }

private:
    void tick()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal != last.data()) {
            last = modal;
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                seen << box->windowTitle() + ": " + box->text();
            else
                seen << QString::fromLatin1(modal->metaObject()->className());
            // Acted on from the dialog's own event loop, not from this tick: a step that opens
            // another modal dialog (a warning after OK) must not hold the watch up.
            if (next < steps.size()) {
                const Step step = steps.at(next++);
                QPointer<QWidget> target(modal);
                QTimer::singleShot(0, modal, [step, target]() {
                    if (target)
                        step(target);
                });
            }
        }
        // Without steps it only watches (until the time is up). A flow that shows more dialogs
        // than it has steps for fails instead of hanging: once the time is up, they are closed.
        if (clock.elapsed() > timeoutMs) {
            if (modal)
                modal->close();
            else
                poll.stop();
        } else if (!steps.isEmpty() && next >= steps.size() && !modal) {
            poll.stop();
        }
    }

    QList<Step> steps;
    int timeoutMs;
    int next = 0;
    QPointer<QWidget> last;
    QTimer poll;
    QElapsedTimer clock;
};
