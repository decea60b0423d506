#pragma once
// The models the production server offers, one radio button each; OK keeps the checked one in
// selection, Cancel leaves it empty.

#include <QDialog>
#include <QList>
#include <QStringList>

namespace Ui {
class ModelsDialog;
}
class QRadioButton;

class ModelsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ModelsDialog(const QStringList &models, QWidget *parent = nullptr);
    ~ModelsDialog() override;

    QList<QRadioButton *> buttons;
    QString selection;
    Ui::ModelsDialog *ui;

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
};
