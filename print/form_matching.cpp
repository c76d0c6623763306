#include "print/form_matching.h"

#include <limits>
#include <cstring>

namespace {

constexpr DWORD kPaperBits = DM_FORMNAME | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH;  // 0x1000E
constexpr DWORD kResolutionBits = DM_PRINTQUALITY | DM_YRESOLUTION;                        // 0x2400
static_assert(kPaperBits == 0x1000E && kResolutionBits == 0x2400);

// List entries are read by copy: in a capability record the paper sizes,
// resolutions and forms may start at any offset.
template <class T>
T EntryAt(const void* list, size_t i) {
    T value;
    std::memcpy(&value, static_cast<const BYTE*>(list) + i * sizeof(T), sizeof(T));
    return value;
}

// The compared part of paper name i (the first 31 characters), read by copy
// like the entries: a damaged record may place the names at an odd offset.
struct PaperName {
    WCHAR text[kFormNameMatchChars + 1];
};
PaperName NameAt(const WCHAR* names, size_t i) {
    PaperName name{};
    std::memcpy(name.text, reinterpret_cast<const BYTE*>(names) + i * kPaperNameBytes, kFormNameMatchChars * sizeof(WCHAR));
    return name;
}

// ------------------------------------------------------------ paper

// The paper the DEVMODE names, or -1.
LONG FindPaper(const DEVMODEW* dm, DWORD count, const WORD* codes, const WCHAR* names, const PaperSize* sizes,
               TraceLog* log) {
    if (dm->dmFields & DM_PAPERSIZE) {
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => DM_PAPERSIZE is initialized, checking for a corresponding paper\n");
        // The DEVMODE's code is signed, the list's unsigned: a negative code matches nothing.
        for (DWORD i = 0; i < count; ++i)
            if (int{dm->dmPaperSize} == int{EntryAt<WORD>(codes, i)}) {
                TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => found paper: %d\n", static_cast<int>(i));
                return static_cast<LONG>(i);
            }
    }
    TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => couldn't find given DM_PAPERSIZE...\n");
    if (dm->dmFields & DM_FORMNAME) {
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => DM_FORMNAME is initialized, checking a corresponding paper\n");
        for (DWORD i = 0; i < count; ++i)
            if (_wcsnicmp(dm->dmFormName, NameAt(names, i).text, kFormNameMatchChars) == 0)
                return static_cast<LONG>(i);
    }
    TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => couldn't find paper based on set FORMNAME or PAPERSIZE...\n");
    if ((dm->dmFields & DM_PAPERLENGTH) && (dm->dmFields & DM_PAPERWIDTH)) {
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => DM_PAPERLENGTH and DM_PAPERWIDTH are set, checking a corresponding paper\n");
        for (DWORD i = 0; i < count; ++i) {
            const PaperSize size = EntryAt<PaperSize>(sizes, i);
            if (size.width == dm->dmPaperWidth && size.length == dm->dmPaperLength) return static_cast<LONG>(i);
        }
    } else {
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => DM_PAPERLENGTH and DM_PAPERWIDTH are not both set, can't find paper index\n");
    }
    return -1;
}

void WritePaper(DEVMODEW* out, LONG index, const WORD* codes, const WCHAR* names, const PaperSize* sizes,
                TraceLog* log) {
    TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => setting paper to index %d\n", index);
    const WORD code = EntryAt<WORD>(codes, static_cast<size_t>(index));
    const PaperSize size = EntryAt<PaperSize>(sizes, static_cast<size_t>(index));
    out->dmFields |= kPaperBits;
    out->dmPaperSize = static_cast<short>(code);
    std::memset(out->dmFormName, 0, sizeof(out->dmFormName));
    CopyNameSlot(out->dmFormName, NameAt(names, static_cast<size_t>(index)).text, kFormNameMatchChars);
    out->dmPaperWidth = static_cast<short>(size.width);
    out->dmPaperLength = static_cast<short>(size.length);
    TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => (%d; %d,%d; %s)\n", int{code}, int{out->dmPaperWidth},
                  int{out->dmPaperLength}, out->dmFormName);
}

// ------------------------------------------------------------ resolution

constexpr const WCHAR* kRes = L"vlibPRINT_GetResolutionIndex";

struct ResolutionLists {
    DWORD indexedOnly;
    DWORD numReal;
    const ResolutionPair* real;
    DWORD numIndexed;
    const ResolutionPair* indexed;
    TraceLog* log;

    // The list a dots-per-inch value is looked up in, and the result for its entry i.
    DWORD DpiCount() const { return indexedOnly ? numIndexed : numReal; }
    ResolutionPair DpiEntry(DWORD i) const { return EntryAt<ResolutionPair>(indexedOnly ? indexed : real, i); }
    LONG DpiResult(DWORD i) const { return indexedOnly ? -1 - static_cast<LONG>(i) : static_cast<LONG>(i); }

    void Say(const WCHAR* text) const { TraceLogWrite(log, 0, L"%s => %s\n", kRes, text); }

    LONG DefaultRule() const {
        Say(L"didn't find resolution index, defaulting to ...?");
        if (indexedOnly) return numIndexed == 0 ? -2 : -1 - static_cast<LONG>(numIndexed / 2);
        return static_cast<LONG>(numReal / 2);
    }
    LONG AverageRule() const {
        Say(L"can't find a good match, defaulting to average quality");
        return numReal >= 4 ? 2 : static_cast<LONG>(numReal) - 1;
    }
    // v < 0. The mock index is 1 - n, not -n: with one or no indexed entry it
    // is a real index.
    LONG IndexRule(LONG v) const {
        if (static_cast<long long>(numIndexed) >= -static_cast<long long>(v)) {
            Say(L"setting to real index");
            return v;
        }
        Say(L"setting to highest mock index");
        return 1 - static_cast<LONG>(numIndexed);
    }
    LONG MatchBoth(LONG q, LONG y) const {
        LONG partial = 0;
        bool havePartial = false;
        for (DWORD i = 0; i < DpiCount(); ++i) {
            const ResolutionPair entry = DpiEntry(i);
            if (entry.x == q && entry.y == y) {
                if (!indexedOnly) Say(L"found a match for both!");
                return DpiResult(i);
            }
            if (entry.x == q || entry.y == y) partial = DpiResult(i), havePartial = true;  // the last one wins
        }
        Say(L"no exact match");
        if (!havePartial) return DefaultRule();
        Say(L"using a partial match!");
        return partial;
    }
    // Only one of the two bits set: that field's value alone (onX: the print
    // quality, compared with the entries' x; else the y-resolution with y).
    LONG OneField(LONG value, bool onX) const {
        const WCHAR* field = onX ? L"printquality" : L"yresolution";
        TraceLogWrite(log, 0, L"%s => only %s is set\n", kRes, field);
        if (value < 0) {
            TraceLogWrite(log, 0, L"%s => %s seems to be an index\n", kRes, field);
            return IndexRule(value);
        }
        if (value == 0) return AverageRule();
        TraceLogWrite(log, 0, L"%s => %s seems to be a dpi\n", kRes, field);
        for (DWORD i = 0; i < DpiCount(); ++i)
            if ((onX ? DpiEntry(i).x : DpiEntry(i).y) == value) {
                TraceLogWrite(log, 0, L"%s => found matching %s\n", kRes, field);
                return DpiResult(i);
            }
        Say(L"no match");
        return DefaultRule();
    }

    LONG Finish(LONG r, DEVMODEW* out) const {
        if (r < 0) {
            if (out) {
                out->dmFields = (out->dmFields & ~DM_YRESOLUTION) | DM_PRINTQUALITY;
                out->dmPrintQuality = static_cast<short>(r);
                out->dmYResolution = 0;
            }
            TraceLogWrite(log, 0, L"%s => returning index %ld\n", kRes, static_cast<long>(r));
            return r;
        }
        if (numReal == 0) {
            if (out) {
                out->dmFields &= ~kResolutionBits;
                out->dmPrintQuality = 0;
                out->dmYResolution = 0;
            }
            Say(L"returning NO resolution");
            return r;
        }
        // A real index beyond the list (the mock index 1 with one real
        // entry) stands for the highest one the list has: its last entry.
        if (static_cast<DWORD>(r) >= numReal) {
            TraceLogWrite(log, 0, L"%s => index %ld is beyond the %lu real resolutions, using the last one\n", kRes,
                          static_cast<long>(r), static_cast<unsigned long>(numReal));
            r = static_cast<LONG>(numReal) - 1;
        }
        const ResolutionPair entry = EntryAt<ResolutionPair>(real, static_cast<size_t>(r));
        if (out) {
            out->dmFields |= kResolutionBits;
            out->dmPrintQuality = static_cast<short>(entry.x);
            out->dmYResolution = static_cast<short>(entry.y);
        }
        TraceLogWrite(log, 0, L"%s => returning resolution %ld: (%d, %d)\n", kRes, static_cast<long>(r),
                      static_cast<int>(entry.x), static_cast<int>(entry.y));
        return r;
    }

    // One pass over the current DEVMODE; false (with *r unset) when it names
    // no resolution at all.
    bool Dispatch(const DEVMODEW* dm, LONG* r) const {
        const bool hasQ = (dm->dmFields & DM_PRINTQUALITY) != 0, hasY = (dm->dmFields & DM_YRESOLUTION) != 0;
        const LONG q = dm->dmPrintQuality, y = dm->dmYResolution;
        if (hasQ && hasY) {
            Say(L"printquality and yresolution are set");
            if (q > 0 && y > 0) {
                Say(L"printquality and yresolution seem to be a dpi");
                *r = MatchBoth(q, y);
            } else if (q < 0) {
                Say(L"printquality seems to be an index, ignoring yresolution");
                *r = IndexRule(q);
            } else if (y < 0) {
                Say(L"yresolution seems to be an index, ignoring printquality");
                *r = IndexRule(y);
            } else {
                *r = AverageRule();
            }
        } else if (hasQ || hasY) {
            *r = OneField(hasQ ? q : y, hasQ);
        } else {
            return false;
        }
        return true;
    }
};

// ------------------------------------------------------------ capability record

// One list of a capability record: the entries that lie inside both their
// section and the record. A section outside the record has none, and so has
// a count that reads as negative (a driver's -1).
struct RecordList {
    const BYTE* data;
    DWORD count;
};

RecordList ListOf(const caps4* record, DWORD offset, DWORD size, DWORD count, DWORD width) {
    const BYTE* base = reinterpret_cast<const BYTE*>(record);
    if (offset < kCaps4HeaderSize || offset > record->dwSize || size > record->dwSize - offset) return {base, 0};
    const DWORD fit = size / width;
    if (static_cast<LONG>(count) <= 0) return {base + offset, 0};
    return {base + offset, count < fit ? count : fit};
}

// A record too short for its own header has no fields to go by: it counts
// as no record at all.
bool HeaderHeld(const caps4* record) { return record && record->dwSize >= kCaps4HeaderSize; }

struct RecordLists {
    RecordList real, indexed, names, codes, sizes, forms;
    explicit RecordLists(const caps4* r)
        : real(ListOf(r, r->dwOffsetToResolutions, r->dwSizeOfResolutions, r->dwNumResolutions, kResolutionBytes)),
          indexed(ListOf(r, r->dwOffsetToResolutionsIndexed, r->dwSizeOfResolutionsIndexed,
                         r->dwNumResolutionsIndexed, kResolutionBytes)),
          names(ListOf(r, r->dwOffsetToPaperNames, r->dwSizeOfPaperNames, r->dwNumPaperNames, kPaperNameBytes)),
          codes(ListOf(r, r->dwOffsetToPapers, r->dwSizeOfPapers, r->dwNumPapers, kPaperIdBytes)),
          sizes(ListOf(r, r->dwOffsetToPaperSize, r->dwSizeOfPaperSize, r->dwNumPaperSize, kPaperSizeBytes)),
          forms(ListOf(r, r->dwOffsetToForms, r->dwSizeOfForms, r->dwNumForms, kFormBytes)) {}

    // Papers are searched only where all three lists have an entry (the
    // driver may report different counts), so that no list is read beyond its end.
    DWORD Papers() const {
        DWORD n = codes.count;
        if (names.count < n) n = names.count;
        if (sizes.count < n) n = sizes.count;
        return n;
    }
};

LONG PaperOf(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const RecordLists& lists, TraceLog* log) {
    return vlibPRINT_GetPaperIndex(pdmIn, pdmOut, lists.Papers(), reinterpret_cast<const WORD*>(lists.codes.data),
                                   reinterpret_cast<const WCHAR*>(lists.names.data),
                                   reinterpret_cast<const PaperSize*>(lists.sizes.data), log);
}

LONG ResolutionOf(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const caps4* record, const RecordLists& lists,
                  TraceLog* log) {
    return vlibPRINT_GetResolutionIndex(pdmIn, pdmOut, record->dwIndexedResolutionsOnly, lists.real.count,
                                        reinterpret_cast<const ResolutionPair*>(lists.real.data), lists.indexed.count,
                                        reinterpret_cast<const ResolutionPair*>(lists.indexed.data), log);
}

// ------------------------------------------------------------ form

constexpr const WCHAR* kForm = L"vlibPRINT_GetForm";

// The real resolution that produces indexed entry k, or 0.
LONG EffectiveSlot(const RecordLists& lists, LONG k, TraceLog* log) {
    if (k < 0 || static_cast<DWORD>(k) >= lists.indexed.count) {
        TraceLogWrite(log, 0, L"%s => indexed resolution %d is not in the record\n", kForm, k);
        TraceLogWrite(log, 0, L"%s => no effective resolution found, using 0\n", kForm);
        return 0;
    }
    const ResolutionPair effective = EntryAt<ResolutionPair>(lists.indexed.data, static_cast<size_t>(k));
    TraceLogWrite(log, 0, L"%s => looking for effective resolution matching : %lu x %lu\n", kForm,
                  static_cast<unsigned long>(effective.x), static_cast<unsigned long>(effective.y));
    LONG backup = -1;
    for (DWORD i = 0; i < lists.real.count; ++i) {
        const ResolutionPair entry = EntryAt<ResolutionPair>(lists.real.data, i);
        if (entry.x == effective.x && entry.y == effective.y) {
            TraceLogWrite(log, 0, L"%s => found effective resolution: %d\n", kForm, static_cast<int>(i));
            return static_cast<LONG>(i);
        }
        if (entry.x == effective.x || entry.y == effective.y) {
            backup = static_cast<LONG>(i);
            TraceLogWrite(log, 0, L"%s => found backup effective resolution: %d\n", kForm, backup);
        }
    }
    if (backup >= 0) {
        TraceLogWrite(log, 0, L"%s => using backup effective resolution: %d\n", kForm, backup);
        return backup;
    }
    TraceLogWrite(log, 0, L"%s => no effective resolution found, using 0\n", kForm);
    return 0;
}

// value * factor or value / factor, cut toward zero and held in a LONG.
LONG Scaled(LONG value, double factor, bool divide) {
    const double scaled = divide ? value / factor : value * factor;
    // The limits of LONG itself, whatever width the compiler gives long.
    constexpr LONG kMax = std::numeric_limits<LONG>::max(), kMin = std::numeric_limits<LONG>::min();
    if (scaled >= static_cast<double>(kMax)) return kMax;
    if (scaled <= static_cast<double>(kMin)) return kMin;
    return static_cast<LONG>(scaled);
}

void Swap(LONG& a, LONG& b) {
    const LONG t = a;
    a = b;
    b = t;
}

}  // namespace

LONG vlibPRINT_GetPaperIndex(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD count, const WORD* paperCodes,
                             const WCHAR* paperNames, const PaperSize* paperSizes, TraceLog* log) {
    if (!pdmIn) return -1;
    for (const DEVMODEW* current = pdmIn;; current = pdmOut) {
        if (!paperCodes || !paperNames || !paperSizes || count == 0) return -1;
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => searching for paper based on given DEVMODE...\n");
        const LONG index = FindPaper(current, count, paperCodes, paperNames, paperSizes, log);
        if (index >= 0 && pdmOut) {
            // Also a paper found in pdmOut itself: its four fields come out consistent.
            WritePaper(pdmOut, index, paperCodes, paperNames, paperSizes, log);
            return index;
        }
        TraceLogWrite(log, 0, L"vlibPRINT_GetPaperIndex => failed to find find paper index, attempting to find using output devmode\n");
        if (current == pdmOut || !pdmOut) return -1;
    }
}

LONG vlibPRINT_GetResolutionIndex(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD indexedOnly, DWORD numReal,
                                  const ResolutionPair* real, DWORD numIndexed, const ResolutionPair* indexed,
                                  TraceLog* log) {
    if (!pdmIn) return -1;
    const ResolutionLists lists{indexedOnly, numReal, real, numIndexed, indexed, log};
    for (const DEVMODEW* current = pdmIn;; current = pdmOut) {
        // Both lists are required whatever the flag says.
        if (!real || !indexed) return -1;
        lists.Say(L"searching for resolution based on given DEVMODE...");
        TraceLogWrite(log, 0, L"%s => dmPrintQuality (%d) %d\n", kRes, static_cast<int>(current->dmFields & DM_PRINTQUALITY),
                      int{current->dmPrintQuality});
        TraceLogWrite(log, 0, L"%s => dmYResolution (%d) %d\n", kRes, static_cast<int>(current->dmFields & DM_YRESOLUTION),
                      int{current->dmYResolution});
        LONG r = 0;
        if (lists.Dispatch(current, &r)) return lists.Finish(r, pdmOut);
        lists.Say(L"no resolution specified, trying to use res already in output devmode!");
        if (current == pdmOut) return lists.Finish(lists.DefaultRule(), pdmOut);
        if (!pdmOut) return -1;
    }
}

LONG vlibPRINT_GetPaperIndexOfCaps4(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const caps4* record, TraceLog* log) {
    if (!HeaderHeld(record)) return -1;
    return PaperOf(pdmIn, pdmOut, RecordLists(record), log);
}

LONG vlibPRINT_GetResolutionIndexOfCaps4(const DEVMODEW* pdmIn, DEVMODEW* pdmOut, const caps4* record, TraceLog* log) {
    if (!HeaderHeld(record)) return -1;
    return ResolutionOf(pdmIn, pdmOut, record, RecordLists(record), log);
}

FormEntry* vlibPRINT_GetForm(FormEntry* pForm, const DEVMODEW* pdmIn, DEVMODEW* pdmOut, DWORD scalePercent,
                             const caps4* record, TraceLog* log) {
    if (!pForm) return nullptr;
    TraceLogWrite(log, 0, L"%s => \n", kForm);
    *pForm = FormEntry{};
    if (!HeaderHeld(record)) {
        TraceLogWrite(log, 0, L"%s => no capability record\n", kForm);
        return pForm;
    }
    const RecordLists lists(record);

    LONG p = PaperOf(pdmIn, pdmOut, lists, log);
    if (p < 0) {
        p = 0;
        TraceLogWrite(log, 0, L"%s => defaulting to paper index: %d\n", kForm, p);
    } else {
        TraceLogWrite(log, 0, L"%s => paper index: %d\n", kForm, p);
    }

    const LONG r = ResolutionOf(pdmIn, pdmOut, record, lists, log);
    LONG s = r;
    if (r >= 0) {
        TraceLogWrite(log, 0, L"%s => resolution: %d\n", kForm, r);
    } else {
        TraceLogWrite(log, 0, L"%s => indexed resolution: %d\n", kForm, r);
        if (record->dwIndexedResolutionsOnly) {
            TraceLogWrite(log, 0, L"%s => indexed only resolutions\n", kForm);
            s = -1 - r;
        } else {
            TraceLogWrite(log, 0, L"%s => NOT indexed only resolutions\n", kForm);
            s = EffectiveSlot(lists, -1 - r, log);
        }
    }

    // The forms query lays the table out with one form per paper size for
    // each resolution; that count is the stride (it equals dwNumPapers
    // whenever the driver reports as many papers as paper sizes).
    const unsigned long long wanted = static_cast<unsigned long long>(s) * record->dwNumPaperSize + static_cast<DWORD>(p);
    LONG form = static_cast<LONG>(wanted);
    if (wanted >= lists.forms.count) {
        // Not measured: the paper at the first resolution, else the first form.
        form = static_cast<DWORD>(p) < lists.forms.count ? p : 0;
        TraceLogWrite(log, 0, L"%s => no form of paper %d at resolution slot %d in the record (%lu forms), using form %d\n",
                      kForm, p, s, static_cast<unsigned long>(lists.forms.count), form);
        if (lists.forms.count == 0) return pForm;
    }
    TraceLogWrite(log, 0, L"%s => form: %d\n", kForm, form);
    FormEntry& f = *pForm;
    f = EntryAt<FormEntry>(lists.forms.data, static_cast<size_t>(form));

    TraceLogWrite(log, 0, L"DrvEnablePDEV => spooling at normal form dpi\n");
    TraceLogWrite(log, 0, L"\t\t\t\tPaper: %d: (%d x %d)\n", f.paprI, f.paprW, f.paprL);
    TraceLogWrite(log, 0, L"\t\t\t\tResX: %d\n", f.resX);
    TraceLogWrite(log, 0, L"\t\t\t\tResY: %d\n", f.resY);
    TraceLogWrite(log, 0, L"\t\t\t\tResIndex: %d\n", f.resNo);
    TraceLogWrite(log, 0, L"\t\t\t\tLogPixelsX: %d\n", f.logX);
    TraceLogWrite(log, 0, L"\t\t\t\tLogPixelsY: %d\n", f.logY);

    // A scale of 0 would zero the logical pixels and divide the sizes by
    // zero: it is taken as no scaling.
    if (scalePercent == 0) {
        TraceLogWrite(log, 0, L"%s => scale 0, using 100\n", kForm);
        scalePercent = 100;
    }
    const double factor = scalePercent / 100.0;
    f.logX = Scaled(f.logX, factor, false);
    f.logY = Scaled(f.logY, factor, false);
    f.hsize = Scaled(f.hsize, factor, true);
    f.vsize = Scaled(f.vsize, factor, true);
    const struct {
        const WCHAR* format;
        LONG value;
    } scaledLines[] = {
        {L"\t\t\t\tLogPixelsX (scaled): %d\n", f.logX}, {L"\t\t\t\tLogPixelsY (scaled): %d\n", f.logY},
        {L"\t\t\t\tAspectX: %d\n", f.aspX},             {L"\t\t\t\tAspectY: %d\n", f.aspY},
        {L"\t\t\t\tAspectXY: %d\n", f.aspXY},           {L"\t\t\t\tPhysicalWidth: %d\n", f.physW},
        {L"\t\t\t\tPhysicalHeight: %d\n", f.physH},     {L"\t\t\t\tPhysicalOffsetX: %d\n", f.offX},
        {L"\t\t\t\tPhysicalOffsetY: %d\n", f.offY},     {L"\t\t\t\tResX: %d\n", f.resX},
        {L"\t\t\t\tResY: %d\n", f.resY},                {L"\t\t\t\tHorzRes: %d\n", f.hres},
        {L"\t\t\t\tVertRes: %d\n", f.vres},             {L"\t\t\t\tHorzSize (scaled): %d\n", f.hsize},
        {L"\t\t\t\tVertSize (scaled): %d\n", f.vsize},
    };
    for (const auto& line : scaledLines) TraceLogWrite(log, 0, line.format, line.value);

    // Landscape is read from the request only.
    TraceLogWrite(log, 0, L"SetupForm => checking devmode for change in orientation (form flip: %d)\n", f.orientFlag);
    if (pdmIn && (pdmIn->dmFields & DM_ORIENTATION) && pdmIn->dmOrientation == DMORIENT_LANDSCAPE && f.orientFlag) {
        TraceLogWrite(log, 0, L"SetupForm => changing form def based on landscape\n");
        Swap(f.resX, f.resY);
        Swap(f.hsize, f.vsize);
        Swap(f.hres, f.vres);
        Swap(f.logX, f.logY);
        Swap(f.aspX, f.aspY);
        Swap(f.physW, f.physH);
        Swap(f.offX, f.offY);
    }
    return pForm;
}
