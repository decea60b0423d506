#pragma once
// Where an image comes from, or goes to: the USB optical drive, a USB stick or a network share.
// The same form serves both directions; a backup words the choices as destinations.

#include <QDialog>

namespace Ui {
class FileSourceDialog;
}

class FileSourceDialog : public QDialog
{
    Q_OBJECT
public:
    // The choices' indices, as the flows use them.
    enum Source { Cd = 0, Usb = 1, Network = 2 };

    explicit FileSourceDialog(bool restore, QWidget *parent = nullptr);
    ~FileSourceDialog() override;

    // The chosen source once accepted; -1 before (and after a cancel).
    int selection = -1;

    Ui::FileSourceDialog *ui;

public slots:
    void accept() override;
};
