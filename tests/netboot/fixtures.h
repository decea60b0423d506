#pragma once
// Firmware contents shared by the LAN boot utility's tests.

#include <QString>
#include <QStringList>

namespace fixtures {

// Insyde CSV rows: UEFI boot, network stack and PXE boot question both present and off.
inline QStringList insydeUefiOff()
{
    return {
        "*,0x0001,Advanced,0x10,OneOf,Boot Type,UEFI Boot Type,\"UEFI Boot Type,Legacy Boot Type,Dual Boot Type\"",
        "*,0x0002,Advanced,0x11,OneOf,Network Stack,Disabled,\"Disabled,Enabled\"",
        "*,0x0003,Advanced,0x12,OneOf,PXE Boot to LAN,Disabled,\"Disabled,UEFI:IPv4,Legacy\"",
        "*,0x0004,Security,0x20,OneOf,Secure Boot,Disabled,\"Disabled,Enabled\"",
    };
}

inline const char *amiHeader()
{
    return "// Setup export of the test unit\n"
           "// Produced by the firmware test double\n"
           "HIICrc32= 3A5F07C2";
}

inline QString amiNetworkBlock(bool enabled)
{
    return QString("Setup Question\t= Network Stack\n"
                   "Help String\t= Enable/Disable UEFI Network Stack\n"
                   "Token\t=0x10\n"
                   "Offset\t=0x2B\n"
                   "Width\t=01\n"
                   "Bios Default\t=[00]Disabled\n")
           + (enabled ? "Options\t=[00]Disabled\n\t*[01]Enabled" : "Options\t=*[00]Disabled\n\t[01]Enabled");
}

inline QString amiExport(bool enabled)
{
    return QString(amiHeader()) + "\n\n"
           + "Setup Question\t= Boot Mode Select\n"
             "Help String\t= Select boot mode LEGACY/UEFI\n"
             "Token\t=0x0C\n"
             "Offset\t=0x12\n"
             "Width\t=01\n"
             "Bios Default\t=[01]UEFI\n"
             "Options\t=[00]LEGACY\n"
             "\t*[01]UEFI\n"
             "\n"
           + amiNetworkBlock(enabled) + "\n"
           + "\n"
             "Setup Question\t= Quiet Boot\n"
             "Help String\t= Enables or disables Quiet Boot option\n"
             "Token\t=0x2A\n"
             "Offset\t=0x40\n"
             "Width\t=01\n"
             "Bios Default\t=[01]Enabled\n"
             "Options\t=[00]Disabled\n"
             "\t*[01]Enabled\n";
}

inline QStringList efiEntries()
{
    return {"0001 1 Vemra OS", "0002 1 UEFI PXEv4 (MAC:001122334455)", "0003 1 UEFI USB Stick",
            "0004 0 Old Entry"};
}

} // namespace fixtures
