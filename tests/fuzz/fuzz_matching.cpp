// Paper, resolution and form matching of a DEVMODE against a capability
// record: the DEVMODE leads the input, the record (of as many bytes as it
// says) follows.
#include "print/form_matching.h"
#include "tests/fuzz/fuzz_support.h"

int FuzzInput(const uint8_t* data, size_t size) {
    TraceLog* log = FuzzLog();
    const size_t head = std::min(size, sizeof(DEVMODEW));
    FuzzBlock in(data, size, sizeof(DEVMODEW)), out(data, size, sizeof(DEVMODEW));
    FuzzBlock block(data + head, size - head, std::max<size_t>(size - head, sizeof(DWORD)));
    caps4* record = block.as<caps4>();
    record->dwSize = static_cast<DWORD>(block.bytes.size());
    DEVMODEW* pdmOut = out.as<DEVMODEW>();

    const LONG paper = vlibPRINT_GetPaperIndexOfCaps4(in.as<DEVMODEW>(), pdmOut, record, log);
    if (paper >= 0) {
        // The paper found exists in all three lists, and its code went out.
        FUZZ_EXPECT(record->dwSize >= sizeof(caps4) && static_cast<DWORD>(paper) < record->dwNumPapers);
        FUZZ_EXPECT(record->dwOffsetToPapers + (paper + 1) * 2ull <= record->dwSize);
        FUZZ_EXPECT(static_cast<WORD>(pdmOut->dmPaperSize) == Read<WORD>(block.bytes.data() + record->dwOffsetToPapers + paper * 2));
    }
    const LONG resolution = vlibPRINT_GetResolutionIndexOfCaps4(in.as<DEVMODEW>(), pdmOut, record, log);
    if (resolution >= 0 && record->dwSize >= sizeof(caps4)) {
        // A real index names an entry of the list as far as the record holds
        // it, whose values went out; with no entry, no resolution goes out.
        const DWORD at = record->dwOffsetToResolutions, bytes = record->dwSizeOfResolutions;
        const bool inside = at >= sizeof(caps4) && at <= record->dwSize && bytes <= record->dwSize - at;
        const LONG held = inside && static_cast<LONG>(record->dwNumResolutions) > 0
                              ? static_cast<LONG>(std::min(record->dwNumResolutions, bytes / kResolutionBytes)) : 0;
        FUZZ_EXPECT(held ? resolution < held : !(pdmOut->dmFields & (DM_PRINTQUALITY | DM_YRESOLUTION)));
        if (held) {
            const ResolutionPair pair = Read<ResolutionPair>(block.bytes.data() + at + resolution * kResolutionBytes);
            FUZZ_EXPECT(pdmOut->dmPrintQuality == static_cast<short>(pair.x) && pdmOut->dmYResolution == static_cast<short>(pair.y));
        }
    }
    FormEntry form;
    FUZZ_EXPECT(vlibPRINT_GetForm(&form, in.as<DEVMODEW>(), pdmOut, size ? data[0] : 100u, record, log) == &form);
    return 0;
}
