#pragma once
// The firmware versions of one model, radio buttons in columns of 21; OK keeps the checked one in
// selection, Cancel sets it to "none", Back to "back" (both reject the dialog).

#include <QDialog>
#include <QList>
#include <QStringList>

namespace Ui {
class VersionsDialog;
}
class QPushButton;
class QRadioButton;

class VersionsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit VersionsDialog(const QStringList &versions, QWidget *parent = nullptr);
    ~VersionsDialog() override;

    QList<QRadioButton *> buttons;
    QString selection;
    QPushButton *backButton = nullptr;
    Ui::VersionsDialog *ui;

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void my_back_button();
};
