#pragma once
// What an "ntfsresize -i" report says about a volume: sizes, cluster size and space in use.

#include <QString>

class ResizeInformation
{
public:
    ResizeInformation() = default;
    explicit ResizeInformation(const QString &report);

    QString volumeVersion;
    QString deviceName;
    quint64 volumeSize = 0;    // bytes
    quint64 clusterSize = 0;   // bytes
    quint64 deviceSize = 0;    // bytes
    quint64 spaceInUse = 0;    // MB of 1,000,000 bytes
    quint64 freeBytes = 0;
    bool hasInfo = false;
    bool hasError = false;
};
