// Merging and comparing DEVMODEs. Both work on the public fields only, so a
// plain DEVMODE and a private record are accepted alike. The logger may be
// null; then nothing is traced.
#pragma once

#include "log/trace_log.h"
#include "platform/platform.h"

// Copies every field that pdmIn marks in dmFields into pdmOut and sets the
// same bit there, in three groups gated on pdmOut's dmSpecVersion (0x0320,
// 0x0400, 0x0401). A bit is never cleared. Always returns TRUE.
BOOL vlibPRINT_MergeDM4W(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, TraceLog* log);
BOOL vlibPRINT_MergeDM4A(const DEVMODEA* pdmIn, DEVMODEA* pdmOut, TraceLog* log);
// The same merges, tracing under their own name.
BOOL MergeDM(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, TraceLog* log);
BOOL MergeDM(const DEVMODEA* pdmIn, DEVMODEA* pdmOut, TraceLog* log);

// The DM_ bits of the print settings that differ between the two DEVMODEs
// (dwUpdatedFields); 0 when either is null.
DWORD CompareDM(const DEVMODEW* pdmOld, const DEVMODEW* pdmNew, TraceLog* log);
DWORD CompareDM(const DEVMODEA* pdmOld, const DEVMODEA* pdmNew, TraceLog* log);
