#include "modelsdialog.h"
#include "ui_modelsdialog.h"

#include "utils.h"

#include <QRadioButton>
#include <QVBoxLayout>

ModelsDialog::ModelsDialog(const QStringList &models, QWidget *parent) : QDialog(parent), ui(new Ui::ModelsDialog)
{
    ui->setupUi(this);
    auto *column = new QVBoxLayout(ui->groupBox);
    for (const QString &model : models) {
        if (model.isEmpty())
            continue;
        auto *button = new QRadioButton(model, ui->groupBox);
        column->addWidget(button);
        buttons << button;
    }
    column->addStretch();
    Utils::SetDefaultStyleSheet(this, QString());
}

ModelsDialog::~ModelsDialog()
{
    delete ui;
}

void ModelsDialog::on_buttonBox_accepted()
{
    for (QRadioButton *button : qAsConst(buttons))
        if (button->isChecked()) {
            selection = button->text();
            break;
        }
    accept();
}

void ModelsDialog::on_buttonBox_rejected()
{
    selection.clear();
    reject();
}
