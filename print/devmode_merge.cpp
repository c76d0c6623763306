#include "print/devmode_merge.h"

#include <cstring>
#include <type_traits>

#include "print/dump_text.h"
#include "print/struct_dumps.h"

namespace {

using dumptext::SlotText;

// One merge: the function's name for its trace lines, the logger, the records.
template <class DM>
struct Merge {
    const WCHAR* name;
    TraceLog* log;
    const DM* in;
    DM* out;

    bool Has(DWORD bit) const { return (in->dmFields & bit) != 0; }
    void Trace(const WCHAR* text) const { TraceLogWrite(log, 0, L"%s => %s\n", name, text); }

    template <class T>
    void Field(DWORD bit, const WCHAR* bitName, const T& source, T& target) const {
        if (!Has(bit)) return;
        TraceLogWrite(log, 0, L"%s => %s merging\n", name, bitName);
        out->dmFields |= bit;
        target = source;
    }

    // Print quality and y-resolution travel together: a DPI quality without
    // a y-resolution gives the same y-resolution, and a y-resolution without a
    // quality gives that quality.
    void QualityAndResolution() const {
        if (Has(DM_PRINTQUALITY)) {
            TraceLogWrite(log, 0, L"%s => DM_PRINTQUALITY merging\n", name);
            out->dmFields |= DM_PRINTQUALITY;
            out->dmPrintQuality = in->dmPrintQuality;
            if (!Has(DM_YRESOLUTION)) {
                out->dmYResolution = 0;
                // A quality of 0 or below is a quality level, not a DPI value.
                if (out->dmPrintQuality > 0) {
                    Trace(L"DM_YRESOLUTION copying since not init");
                    out->dmFields |= DM_YRESOLUTION;
                    out->dmYResolution = out->dmPrintQuality;
                }
            }
        }
        if (Has(DM_YRESOLUTION)) {
            TraceLogWrite(log, 0, L"%s => DM_YRESOLUTION merging\n", name);
            out->dmFields |= DM_YRESOLUTION;
            out->dmYResolution = in->dmYResolution;
            if (!Has(DM_PRINTQUALITY)) {
                Trace(L"DM_PRINTQUALITY copying since not init");
                out->dmFields |= DM_PRINTQUALITY;
                out->dmPrintQuality = in->dmYResolution;
            }
        }
    }

    // The bit is set even for an empty name; only a non-empty name is copied.
    // A name that fills the whole field without a terminator does not fit the
    // copy; like a failed bounded string copy it leaves the target name empty.
    void FormName() const {
        if (!Has(DM_FORMNAME)) return;
        out->dmFields |= DM_FORMNAME;
        TraceLogWrite(log, 0, L"%s => DM_FORMNAME merging\n", name);
        if (in->dmFormName[0] == 0) return;
        Trace(L"copying form name");
        constexpr size_t capacity = sizeof(out->dmFormName) / sizeof(out->dmFormName[0]);
        size_t length = 0;
        while (length < capacity && in->dmFormName[length] != 0) ++length;
        if (length == capacity) {
            out->dmFormName[0] = 0;
            return;
        }
        std::memcpy(out->dmFormName, in->dmFormName, (length + 1) * sizeof(out->dmFormName[0]));
    }
};

#define KV_MERGE_FIELD(bit, field) merge.Field(bit, L"" #bit, pdmIn->field, pdmOut->field)

template <class DM>
BOOL MergeDevmode(const WCHAR* name, const DM* pdmIn, DM* pdmOut, TraceLog* log) {
    TraceLogWrite(log, 0, L"%s => \n", name);
    if (!pdmIn) TraceLogWrite(log, 0, L"%s => pdmIn is null\n", name);
    LogDevmode(pdmIn, log);
    if (!pdmOut) TraceLogWrite(log, 0, L"%s => pdmOut is null\n", name);
    LogDevmode(pdmOut, log);
    // Nothing sound can be merged from or into a missing record: leave both
    // untouched and report success as every merge does.
    if (!pdmIn || !pdmOut) return TRUE;

    const Merge<DM> merge{name, log, pdmIn, pdmOut};
    // The gates look at the target's version only: it decides which fields
    // the target's driver reads.
    merge.Trace(L"testing spec version against 0x0320");
    if (pdmOut->dmSpecVersion >= 0x0320) {
        merge.Trace(L"spec version is after 0x0320");
        KV_MERGE_FIELD(DM_ORIENTATION, dmOrientation);
        KV_MERGE_FIELD(DM_PAPERSIZE, dmPaperSize);
        KV_MERGE_FIELD(DM_PAPERLENGTH, dmPaperLength);
        KV_MERGE_FIELD(DM_PAPERWIDTH, dmPaperWidth);
        KV_MERGE_FIELD(DM_SCALE, dmScale);
        KV_MERGE_FIELD(DM_COPIES, dmCopies);
        KV_MERGE_FIELD(DM_DEFAULTSOURCE, dmDefaultSource);
        merge.QualityAndResolution();
        KV_MERGE_FIELD(DM_COLOR, dmColor);
        KV_MERGE_FIELD(DM_DUPLEX, dmDuplex);
        KV_MERGE_FIELD(DM_TTOPTION, dmTTOption);
        KV_MERGE_FIELD(DM_COLLATE, dmCollate);
        merge.FormName();
        KV_MERGE_FIELD(DM_LOGPIXELS, dmLogPixels);
        KV_MERGE_FIELD(DM_BITSPERPEL, dmBitsPerPel);
        KV_MERGE_FIELD(DM_PELSWIDTH, dmPelsWidth);
        KV_MERGE_FIELD(DM_PELSHEIGHT, dmPelsHeight);
        KV_MERGE_FIELD(DM_DISPLAYFREQUENCY, dmDisplayFrequency);
    }
    merge.Trace(L"testing spec version against 0x0400");
    if (pdmOut->dmSpecVersion >= 0x0400) {
        merge.Trace(L"spec version is after 0x0400");
        KV_MERGE_FIELD(DM_ICMMETHOD, dmICMMethod);
        KV_MERGE_FIELD(DM_ICMINTENT, dmICMIntent);
        KV_MERGE_FIELD(DM_MEDIATYPE, dmMediaType);
        KV_MERGE_FIELD(DM_DITHERTYPE, dmDitherType);
        KV_MERGE_FIELD(DM_PANNINGWIDTH, dmPanningWidth);
        KV_MERGE_FIELD(DM_PANNINGHEIGHT, dmPanningHeight);
    }
    merge.Trace(L"testing spec version against 0x0401");
    if (pdmOut->dmSpecVersion >= 0x0401) {
        merge.Trace(L"spec version is after 0x0401");
        KV_MERGE_FIELD(DM_NUP, dmNup);
    }
    merge.Trace(L"resultant devmode:");
    LogDevmode(pdmOut, log);
    return TRUE;
}

#undef KV_MERGE_FIELD

int CompareNames(const WCHAR* a, const WCHAR* b) { return _wcsicmp(a, b); }
int CompareNames(const BYTE* a, const BYTE* b) {
    return _stricmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
}

// A setting counts as changed unless both records carry it with the same
// value or neither carries it.
template <class DM>
struct Compare {
    TraceLog* log;
    const DM* before;
    const DM* after;
    DWORD updated = 0;

    void Setting(DWORD bit, const WCHAR* bitName, bool sameValue) {
        const bool inBefore = (before->dmFields & bit) != 0;
        const bool inAfter = (after->dmFields & bit) != 0;
        if ((inBefore && inAfter && sameValue) || (!inBefore && !inAfter)) return;
        TraceLogWrite(log, 0, L"CompareDM => %s changed\n", bitName);
        updated |= bit;
    }
};

#define KV_COMPARE_FIELD(bit, field) compare.Setting(bit, L"" #bit, pdmOld->field == pdmNew->field)

template <class DM>
DWORD CompareDevmode(const DM* pdmOld, const DM* pdmNew, TraceLog* log) {
    TraceLogWrite(log, 0, L"CompareDM => old: %X\n", dumptext::AddressOf(pdmOld));
    TraceLogWrite(log, 0, L"CompareDM => new:   %X\n", dumptext::AddressOf(pdmNew));
    TraceLogWrite(log, 0, L"CompareDM => old: \n");
    LogDevmode(pdmOld, log);
    if (!pdmOld) {
        TraceLogWrite(log, 0, L"CompareDM => pdmOld is null\n");
        return 0;
    }
    TraceLogWrite(log, 0, L"CompareDM => new for page: \n");
    LogDevmode(pdmNew, log);
    if (!pdmNew) {
        TraceLogWrite(log, 0, L"CompareDM => pdmNew is null\n");
        return 0;
    }

    Compare<DM> compare{log, pdmOld, pdmNew};
    KV_COMPARE_FIELD(DM_ORIENTATION, dmOrientation);
    KV_COMPARE_FIELD(DM_PAPERSIZE, dmPaperSize);
    KV_COMPARE_FIELD(DM_PAPERLENGTH, dmPaperLength);
    KV_COMPARE_FIELD(DM_PAPERWIDTH, dmPaperWidth);
    KV_COMPARE_FIELD(DM_SCALE, dmScale);
    KV_COMPARE_FIELD(DM_COPIES, dmCopies);
    KV_COMPARE_FIELD(DM_DEFAULTSOURCE, dmDefaultSource);
    KV_COMPARE_FIELD(DM_PRINTQUALITY, dmPrintQuality);
    KV_COMPARE_FIELD(DM_COLOR, dmColor);
    KV_COMPARE_FIELD(DM_DUPLEX, dmDuplex);
    KV_COMPARE_FIELD(DM_YRESOLUTION, dmYResolution);
    KV_COMPARE_FIELD(DM_COLLATE, dmCollate);
    compare.Setting(DM_FORMNAME, L"DM_FORMNAME",
                    CompareNames(SlotText(pdmOld->dmFormName).get(), SlotText(pdmNew->dmFormName).get()) == 0);
    TraceLogWrite(log, 0, L"CompareDM => dwUpdatedFields: %d\n", compare.updated);
    return compare.updated;
}

#undef KV_COMPARE_FIELD

}  // namespace

BOOL vlibPRINT_MergeDM4W(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, TraceLog* log) {
    return MergeDevmode(L"vlibPRINT_MergeDM4W", pdmIn, pdmOut, log);
}
BOOL vlibPRINT_MergeDM4A(const DEVMODEA* pdmIn, DEVMODEA* pdmOut, TraceLog* log) {
    return MergeDevmode(L"vlibPRINT_MergeDM4A", pdmIn, pdmOut, log);
}
BOOL MergeDM(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, TraceLog* log) {
    return MergeDevmode(L"MergeDM", pdmIn, pdmOut, log);
}
BOOL MergeDM(const DEVMODEA* pdmIn, DEVMODEA* pdmOut, TraceLog* log) {
    return MergeDevmode(L"MergeDM", pdmIn, pdmOut, log);
}

DWORD CompareDM(const DEVMODEW* pdmOld, const DEVMODEW* pdmNew, TraceLog* log) {
    return CompareDevmode(pdmOld, pdmNew, log);
}
DWORD CompareDM(const DEVMODEA* pdmOld, const DEVMODEA* pdmNew, TraceLog* log) {
    return CompareDevmode(pdmOld, pdmNew, log);
}
