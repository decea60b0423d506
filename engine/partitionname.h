#pragma once
// How the kernel names the partitions of a drive. Shared by the engine and the console, so that
// both name the same node for the same drive.

#include <QString>

class PartitionName
{
public:
    // The node of partition NUMBER of DEVICE (a path such as /dev/sda or a bare kernel name such
    // as mmcblk0): sda gives sda2, while a drive whose name ends in a digit (loop3, nvme0n1,
    // mmcblk0) takes a "p" before the number (nvme0n1p2). A DEVICE that already names that
    // partition (sda2, loop3p2) is returned unchanged.
    static QString of(const QString &device, int number);
};
