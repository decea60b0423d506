#pragma once
// Moves the end of one partition of a disk (GPT or DOS, as libfdisk finds it).

#include "systemutils.h"

class fdiskHandler : public SystemUtils
{
    Q_OBJECT
public:
    explicit fdiskHandler(bool isGpt, QObject *parent = nullptr);

    // Gives partition number (from 1) a size of sectors; with 0 it is widened to the end of the
    // disk's usable area. True when the new table was written.
    bool AdjustDataPartition(const QString &device, int number, quint64 sectors);

    bool isGpt;
    int adjustStatus = 0;
};
