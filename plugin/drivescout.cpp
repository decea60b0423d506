// The installer plug-in: two exports with the installer's plug-in calling convention (parent
// window, string size, variables, stack top; cdecl; nothing returned). Each leaves one string on
// the installer's stack, which the script pops.
#include "drivewalk.h"
#include "win32drivelayer.h"

#include <windows.h>

// No C runtime is linked (the DLL imports the Windows kernel alone), so nothing would construct
// global objects: the globals are plain data, and each call makes its walk on the stack.
namespace {
HINSTANCE g_instance = nullptr;
InstallerContext g_lastCall;   // what the installer handed to the most recent call
}

// The DLL's entry point itself: without a runtime there is no DllMain wrapper to call one.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) void __cdecl GetFirstUsbDrive(HWND, int stringSize, char *variables,
                                                               nsis::stack_t **stackTop)
{
    Win32DriveLayer layer;
    DriveWalk walk(layer);
    walk.GetFirstUsbDrive(stringSize, variables, stackTop);
    g_lastCall = walk.context();
}

extern "C" __declspec(dllexport) void __cdecl GetAllUsbDrives(HWND, int stringSize, char *variables,
                                                              nsis::stack_t **stackTop)
{
    Win32DriveLayer layer;
    DriveWalk walk(layer);
    walk.GetAllUsbDrives(stringSize, variables, stackTop);
    g_lastCall = walk.context();
}
