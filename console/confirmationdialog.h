#pragma once
// The console's yes/no question: a modal "Confirmation" with the message, OK and Cancel;
// exec() returns 1 when accepted.

#include <QDialog>

namespace Ui {
class ConfirmationDialog;
}

class ConfirmationDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ConfirmationDialog(const QString &message, QWidget *parent = nullptr);
    ~ConfirmationDialog() override;

    Ui::ConfirmationDialog *ui;
};
