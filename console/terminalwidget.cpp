#include "terminalwidget.h"
#include "ui_terminalwidget.h"

#include "termwidget.h"

#include <QVBoxLayout>

TerminalWidget::TerminalWidget(QWidget *parent) : QDialog(parent), ui(new Ui::TerminalWidget)
{
    ui->setupUi(this);

    termWidget = new TermWidget(nullptr);
    auto *layout = new QVBoxLayout;
    layout->addWidget(termWidget);
    ui->mainFrame->setLayout(layout);

    connect(termWidget, &QTermWidget::finished, this, &QWidget::close);
    termWidget->setFocus();
}

TerminalWidget::~TerminalWidget()
{
    delete ui;
}

void TerminalWidget::on_buttonBox_accepted()
{
    close();
}

void TerminalWidget::on_buttonBox_rejected()
{
    // Closing the window alone would leave the shell running on the unit, unseen.
    termWidget->HangUp();
    termWidget->close();
    close();
}
