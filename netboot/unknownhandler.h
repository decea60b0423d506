#pragma once
// Handler used when no setup tool fits the platform: it reports "UNKNOWN" and switches nothing.

#include "pxehandler.h"

class UnknownHandler : public PxeHandler
{
    Q_OBJECT
public:
    explicit UnknownHandler(QObject *parent = nullptr);
};
