#pragma once
// Which steps of a run the operator's stop request (the abort file) may cut short.
//
// A stop request is honoured before and after every step. Inside a step it is honoured only where
// the step writes nothing the run cannot give up: reading a drive or image files, compressing,
// writing image files, checking checksums, a resize test run. Filling a partition or a drive from
// an image counts among them: its old content was given up when the step began, and a technician
// who stops the restore of a large partition must not wait for all of it.
//
// A step that changes a drive or a volume in place is never interrupted: a partition table
// written, a partition moved, an NTFS volume shrunk or grown (ntfsresize moves the volume's data
// while it runs; killed half-way it can lose them), the volume's dirty flag cleared (ntfsfix). The
// request waits until such a step has ended; the run then stops as an aborted one. Table writes
// and ntfsfix run as plain commands, which nothing stops; the resizes run under the tool runner,
// which asks mayInterrupt; the block copy of binary sets is a Copy step and looks at the abort
// file itself. The same holds for the stall watchdog: an in-place step that stops moving is
// reported, never killed.

class StopRules
{
public:
    enum class Step {
        Copy,          // imaging: reading, compressing, writing image files or a partition from them
        Checksums,     // computing or checking the set's checksum list
        TestResize,    // ntfsresize's test run (-n): writes nothing
        TableWrite,    // a partition table written, a partition moved or grown
        VolumeResize,  // an NTFS volume shrunk or grown in place
        VolumeFix,     // the volume's dirty flag cleared
    };

    // True when a stop request (or the stall watchdog) may end this step before it is done.
    static bool mayInterrupt(Step step);
    // How the operator is told what the step does, for the messages of a step left to finish.
    static const char *describe(Step step);
};
