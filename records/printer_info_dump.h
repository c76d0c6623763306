// Field-by-field dumps of the printer info records to a trace log. A null
// logger or record writes nothing.
#pragma once

#include <cstddef>

#include "log/trace_log.h"
#include "records/printer_info.h"

// A record in the 401/402 layout: header fields, the DEVMODE area, the
// capability record and the four local print options (read through the 402
// layout whatever the version). Without `available` the record is trusted to
// hold dwSize bytes; with it nothing beyond min(dwSize, available) is read.
void vlibPRINT_LogKVPI4(TraceLog* log, const KVPrinterInfo401* record);
void vlibPRINT_LogKVPI4(TraceLog* log, const KVPrinterInfo401* record, size_t available);

// The earlier record with its earlier DEVMODE area and capability record.
void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record);
void vlibPRINT_LogKVPI2(TraceLog* log, const KVPrinterInfo2* record, size_t available);
