#pragma once
// The service terminal's window: a TermWidget inside mainFrame and a Close button. It closes by
// itself when the shell ends; Close hangs up a shell that still runs, so that none is left behind.

#include <QDialog>

namespace Ui {
class TerminalWidget;
}
class TermWidget;

class TerminalWidget : public QDialog
{
    Q_OBJECT
public:
    explicit TerminalWidget(QWidget *parent = nullptr);
    ~TerminalWidget() override;

    Ui::TerminalWidget *ui;
    TermWidget *termWidget = nullptr;

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
};
