#pragma once
// Acts on the console's modal windows one after another while the code under test waits in
// their exec(): each new modal window is handed to the next step, as a technician would take
// it. Windows still open when the time runs out are rejected, so a test fails instead of hanging.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <functional>

class ModalSteps : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;

    explicit ModalSteps(const QList<Step> &steps, int timeoutMs = 60000) : steps(steps), timeoutMs(timeoutMs)
    {
        clock.start();
        connect(&poll, &QTimer::timeout, this, [this]() { tick(); });
        poll.start(50);
    }
    int taken() const { return next; }

private:
    void tick()
    {
        if (inStep)
            return;
        QWidget *modal = QApplication::activeModalWidget();
        if (clock.elapsed() > timeoutMs) {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            return;
        }
        if (!modal || !modal->isVisible() || modal == last.data() || next >= steps.size())
            return;
        last = modal;
        inStep = true;
        steps.at(next++)(modal);
        inStep = false;
    }

    QList<Step> steps;
    int timeoutMs;
    int next = 0;
    bool inStep = false;
    QPointer<QWidget> last;
    QElapsedTimer clock;
    QTimer poll;
};
