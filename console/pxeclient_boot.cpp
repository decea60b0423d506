// The main window's boot rows: "UEFI/Legacy Boot" (on_pbBootType_clicked) and "PXE Boot"
// (on_pbPxeBoot_clicked). Both change what the next install or boot does, so neither opens while
// a drive job runs.

#include "pxeclient.h"

#include "boottypedialog.h"
#include "drivejob.h"
#include "enablepxedialog.h"
#include "logging.h"

void PxeClient::on_pbBootType_clicked()
{
    MenuBusy menu(this);
    if (DriveJob::RefuseIfBusy(this))
        return;
    BootTypeDialog dialog;
    dialog.exec();
}

void PxeClient::on_pbPxeBoot_clicked()
{
    MenuBusy menu(this);
    if (DriveJob::RefuseIfBusy(this))
        return;
    EnablePxeDialog dialog;
    dialog.exec();
    logger->LogMessage(QStringLiteral("Pxe Dialog Returned"));
}
