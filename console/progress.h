#pragma once
// The progress dialog: a title, a message and a bar from 0 to 100, moved by the output of the
// command it watches (the line protocol of Utils).

#include <QDialog>

namespace Ui {
class Progress;
}

class Progress : public QDialog
{
    Q_OBJECT
public:
    explicit Progress(const QString &message, QWidget *parent = nullptr);
    ~Progress() override;

    void setProgress(int value);
    void setLabel(const QString &text);
    void appendLabel(const QString &text);
    void SetTitleLabel(const QString &text);

    Ui::Progress *ui;
};
