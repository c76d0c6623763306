// Field-by-field dumps of the public Windows structures to the trace log:
// the DEVMODE in both widths and the spooler's printer information at levels
// 2 and 4. Every line is a time-stamped level-0 line; a null logger writes
// nothing.
#pragma once

#include "log/trace_log.h"
#include "platform/platform.h"

// Banner, address, then the public fields. A null DEVMODE gives the banner
// and the address line only. The ICM .. reserved and the panning fields are
// read only when dmSize holds them whole (212 and 220 bytes wide, 148 and
// 156 narrow).
void LogDevmode(const DEVMODEW* pDevMode, TraceLog* log);
void LogDevmode(const DEVMODEA* pDevMode, TraceLog* log);

// Printer information level 2 (its DEVMODE included) and level 4. A null
// structure writes nothing.
void vlibPRINT_LogPI2(TraceLog* log, const PRINTER_INFO_2W* pInfo);
void vlibPRINT_LogPI4(TraceLog* log, const PRINTER_INFO_4W* pInfo);
