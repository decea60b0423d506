#include "progress.h"
#include "ui_progress.h"

#include "utils.h"

Progress::Progress(const QString &message, QWidget *parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::WindowTitleHint), ui(new Ui::Progress)
{
    ui->setupUi(this);
    ui->label->setText(message);
    ui->lblTitle->clear();
    Utils::SetDefaultStyleSheet(this, QString());
}

Progress::~Progress()
{
    delete ui;
}

void Progress::setProgress(int value)
{
    ui->progressBar->setValue(value);
}

void Progress::setLabel(const QString &text)
{
    ui->label->setText(text);
}

void Progress::appendLabel(const QString &text)
{
    ui->label->setText(ui->label->text() + "\n" + text);
}

void Progress::SetTitleLabel(const QString &text)
{
    ui->lblTitle->setText(text);
}
