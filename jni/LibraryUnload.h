// The library's unload, and the same return to the state after loading for a host that keeps the library loaded
// (the simulated bus's reset between tests).
#pragma once

// Ends the power thread and its window, closes the link as a close from Java does (the printer-class link with its
// reader thread, and the write handle of either transport), and ends a suspension: afterwards the library is as
// after loading. A resume in progress is waited for. Read handles of the native transport belong to Java and stay.
// Cannot run in the deployed library: not exported, and its one caller, the simulated bus's reset, is not in it.
void ReturnToLoadedState();
// Whether the library refuses Java calls because the system is suspended or a resume has not yet ended.
bool IsPowerSuspended();
