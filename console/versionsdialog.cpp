#include "versionsdialog.h"
#include "ui_versionsdialog.h"

#include "utils.h"

#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>

static const int LAST_ROW = 20;   // rows 0 to 20: 21 versions a column

VersionsDialog::VersionsDialog(const QStringList &versions, QWidget *parent)
    : QDialog(parent), ui(new Ui::VersionsDialog)
{
    ui->setupUi(this);
    auto *grid = new QGridLayout(ui->groupBox);
    int row = 0, column = 0;
    for (const QString &version : versions) {
        if (version.isEmpty())
            continue;
        auto *button = new QRadioButton(version, ui->groupBox);
        grid->addWidget(button, row, column);
        buttons << button;
        if (row != 0 && row % LAST_ROW == 0) {
            row = 0;
            ++column;
        } else {
            ++row;
        }
    }
    backButton = ui->buttonBox->addButton(QStringLiteral("Back"), QDialogButtonBox::ResetRole);
    connect(backButton, &QPushButton::clicked, this, &VersionsDialog::my_back_button);
    Utils::SetDefaultStyleSheet(this, QString());
}

VersionsDialog::~VersionsDialog()
{
    delete ui;
}

void VersionsDialog::on_buttonBox_accepted()
{
    for (QRadioButton *button : qAsConst(buttons))
        if (button->isChecked()) {
            selection = button->text();
            break;
        }
    accept();
}

void VersionsDialog::on_buttonBox_rejected()
{
    selection = QStringLiteral("none");
    reject();
}

void VersionsDialog::my_back_button()
{
    selection = QStringLiteral("back");
    reject();
}
