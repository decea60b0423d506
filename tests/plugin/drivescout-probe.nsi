; A silent installer that asks the plug-in both questions and writes the answers next to itself
; (answers.txt), one "name=value" line each, plus whether the plug-in left the installer's own
; string below its answer untouched.
;   makensis -DPLUGINDIR=<folder with DriveScout.dll> -DOUTFILE=<probe.exe> drivescout-probe.nsi
Unicode false
!addplugindir /x86-ansi "${PLUGINDIR}"

Name "DriveScout probe"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SilentInstall silent
InstallDir "$TEMP"

Section
    Push "below"
    DriveScout::GetFirstUsbDrive
    Pop $0
    Pop $1
    Push "below"
    DriveScout::GetAllUsbDrives
    Pop $2
    Pop $3
    FileOpen $4 "$EXEDIR\answers.txt" w
    FileWrite $4 "first=$0$\n"
    FileWrite $4 "below-first=$1$\n"
    FileWrite $4 "all=$2$\n"
    FileWrite $4 "below-all=$3$\n"
    FileClose $4
SectionEnd
