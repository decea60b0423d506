#include "unknownhandler.h"

UnknownHandler::UnknownHandler(QObject *parent)
    : PxeHandler(parent)
{
    handlerName = "UNKNOWN";
    pxeState = "Unknown";
}
