#pragma once
// Every result code the console makes up itself, in one place. Exit codes of the programs it runs
// (install scripts, the engine, tar) pass through unchanged; none of these is 0, so a caller that
// treats any non-zero result as a failure never takes one of them for a success.

namespace ResultCode {

// A command that could not be started (the shell's "command not found").
constexpr int FailedStart = 127;
// A command that was killed or crashed (the shell's 128 + SIGKILL).
constexpr int Crash = 128 + 9;
// A wait that ended before its command did: the application is quitting, or the wait was left
// from outside (the shell's 128 + SIGINT).
constexpr int Interrupted = 128 + 2;

// Firmware installation.
constexpr int NoArchive = -1;
constexpr int FirmwareTooLarge = -2;
constexpr int UnknownVersion = -3;
constexpr int NoDrive = -4;
constexpr int CopyFailed = -5;
constexpr int NotUnpacked = -6;

// Another drive job (the engine, a wipe, a firmware install, a LAN boot switch) holds the drive.
constexpr int DriveBusy = -7;

}
