// The installer plug-in: two exports with the installer's plug-in calling convention (parent
// window, string size, variables, stack top; cdecl; nothing returned). Each leaves one string on
// the installer's stack, which the script pops.
#include "drivewalk.h"
#include "win32drivelayer.h"

#include <windows.h>

namespace {
HINSTANCE g_instance = nullptr;
Win32DriveLayer g_layer;
DriveWalk g_walk(g_layer);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) void __cdecl GetFirstUsbDrive(HWND, int stringSize, char *variables,
                                                               nsis::stack_t **stackTop)
{
    g_walk.GetFirstUsbDrive(stringSize, variables, stackTop);
}

extern "C" __declspec(dllexport) void __cdecl GetAllUsbDrives(HWND, int stringSize, char *variables,
                                                              nsis::stack_t **stackTop)
{
    g_walk.GetAllUsbDrives(stringSize, variables, stackTop);
}
