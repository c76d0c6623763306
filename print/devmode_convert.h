// Conversions between the wide and the narrow DEVMODE, for the public part and
// for the whole private record. Source first, destination second; the caller
// owns both. Names and strings go through the ANSI code page. dmSize and
// dmDriverExtra are copied as they are, so a converted record keeps the sizes
// of its source. A null argument is traced to LibraryLog and nothing is written.
#pragma once

#include "platform/platform.h"
#include "print/private_devmode.h"

void ConvertDMtoAnsi(const DEVMODEW* pdmIn, DEVMODEA* pdmOut);
void vlibPRINT_ConvertDMtoWide(const DEVMODEA* pdmIn, DEVMODEW* pdmOut);

// The private record: public part, the eleven 32-bit values from
// dwSignatureStart on, the seven strings and dwSignatureEnd. Signatures are
// copied, never set.
void vlibPRINT_ConvertDM4toAnsi(const PRIVATE_DEVMODEW* pdmIn, PRIVATE_DEVMODEA* pdmOut);
void ConvertDM2toAnsi(const PRIVATE_DEVMODEW* pdmIn, PRIVATE_DEVMODEA* pdmOut);
void vlibPRINT_ConvertDM4toWide(const PRIVATE_DEVMODEA* pdmIn, PRIVATE_DEVMODEW* pdmOut);
