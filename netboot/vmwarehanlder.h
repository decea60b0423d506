#pragma once
// Handler for a VMware guest: there is no firmware setup to switch, so it only reports.

#include "pxehandler.h"

class VmwareHanlder : public PxeHandler
{
    Q_OBJECT
public:
    explicit VmwareHanlder(QObject *parent = nullptr);
    bool isValidHandler() override;
};
