#include "devcaps/forms.h"

#include <cmath>

#include "devcaps/resolutions.h"
#include "log/trace_log.h"
#include "platform/guard.h"
#include "platform/kernel.h"

namespace {

constexpr const WCHAR* kForms = L"vlibPRINT_QueryDevCap_Forms";
constexpr size_t kFormNameChars = 31;  // dmFormName holds 32 units with its terminator

// The size list drives the loops; an index beyond a shorter id or name list
// has no id (0) and no name (empty).
WORD IdOf(const PaperBuffer* papers, DWORD j) {
    WORD id = 0;
    return PaperIdAt(papers, j, &id) ? id : 0;
}

PaperSize SizeOf(const PaperBuffer* papers, DWORD j) {
    PaperSize size = {};
    PaperSizeAt(papers, j, &size);
    return size;
}

// The low 16 bits of a list value, sign-extended, as a 16-bit DEVMODE field holds it.
LONG Low16(LONG value) { return static_cast<short>(value & 0xFFFF); }

// The values read once per resolution, on its first paper.
struct PerResolution {
    LONG aspX, aspY, aspXY, logX, logY;
};

// What a form gets when its measurement faults: the aspect and logical pixels
// of a 600 dpi device and the page of a Letter sheet at 600 dpi.
constexpr PerResolution kFallbackPerResolution = {600, 600, 848, 600, 600};

void ApplyPerResolution(FormEntry& form, const PerResolution& per) {
    form.aspX = per.aspX;
    form.aspY = per.aspY;
    form.aspXY = per.aspXY;
    form.logX = per.logX;
    form.logY = per.logY;
}

void ApplyFallbackPage(FormEntry& form) {
    form.hsize = 207;
    form.vsize = 271;
    form.hres = 4887;
    form.vres = 6391;
    form.physW = 5100;
    form.physH = 6600;
    form.offX = 110;
    form.offY = 99;
    form.orientFlag = 1;
}

void WriteResolutionHeader(int r, int x, int y) {
    TraceLogWrite(LibraryLog, 0, L"\t\tRes %2d: (%4d,%4d) \n", r, x, y);
    TraceLogWriteRaw(LibraryLog, 0,
                     L"[paprW,paprL] [ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] \n");
}

void WriteFormRow(const FormEntry& f) {
    TraceLogWriteRaw(LibraryLog, 0, L"[%5d,%5d][%5d,%5d,%5d,%5d,%5d,%5d,%5d,%5d] \n", f.logX, f.logY, f.hsize, f.vsize,
                     f.hres, f.vres, f.physW, f.physH, f.offX, f.offY);
}

void DefaultForms(FormEntry* forms, const PaperBuffer* papers, DWORD P, const ResolutionPair* resolutions,
                  DWORD numResolutions) {
    TraceLogWrite(LibraryLog, 0, L"using defaults\n");
    for (DWORD r = 0; r < numResolutions; ++r) {
        const LONG x = Low16(resolutions[r].x);
        const LONG y = Low16(resolutions[r].y);
        const LONG aspXY = static_cast<LONG>(std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y));
        WriteResolutionHeader(static_cast<int>(r), x, y);
        for (DWORD j = 0; j < P; ++j) {
            FormEntry& f = forms[r * P + j];
            f.formNo = static_cast<LONG>(r * P + j);
            f.orientFlag = 0;
            f.paprI = IdOf(papers, j);
            const PaperSize size = SizeOf(papers, j);
            f.paprW = Low16(size.width);
            f.paprL = Low16(size.length);
            TraceLogWriteRaw(LibraryLog, 0, L"[%5d,%5d] ", f.paprW, f.paprL);
            f.resX = f.aspX = f.logX = x;
            f.resY = f.aspY = f.logY = y;
            f.aspXY = aspXY;
            f.hsize = f.paprW / 10;
            f.vsize = f.paprL / 10;
            f.hres = f.physW = static_cast<LONG>(static_cast<double>(f.paprW) / 254 * x);
            f.vres = f.physH = static_cast<LONG>(static_cast<double>(f.paprL) / 254 * y);
            f.offX = f.offY = 0;
            WriteFormRow(f);
        }
    }
}

// Points the working DEVMODE at paper j: id, name (at most 31 units) and size.
void SelectPaper(DEVMODEW* work, const PaperBuffer* papers, DWORD j) {
    work->dmFields |= DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_FORMNAME;
    work->dmPaperSize = static_cast<short>(IdOf(papers, j));
    for (WCHAR& c : work->dmFormName) c = L'\0';
    if (const WCHAR* name = PaperNameAt(papers, j)) {
        for (size_t i = 0; i < kFormNameChars && name[i]; ++i) work->dmFormName[i] = name[i];
    }
    const PaperSize size = SizeOf(papers, j);
    work->dmPaperLength = static_cast<short>(size.length);
    work->dmPaperWidth = static_cast<short>(size.width);
}

// The logical pixels per inch of resolution r taken from the lists: the
// indexed list for an indexed level, else the resolution list (full 32-bit
// values). A list that has no pair r falls back to the list in use.
void LogPixelsFromLists(PerResolution& per, short quality, DWORD r, const ResolutionPair* inUse,
                        const ResolutionPair* resolutions, DWORD numResolutions, const ResolutionPair* indexed,
                        DWORD numIndexed) {
    TraceLogWrite(LibraryLog, 0, L"%s => IgnoreLogPixels set using resolution for setting logpixels\n", kForms);
    const bool isIndexed = quality < 0;
    const ResolutionPair* list = isIndexed ? indexed : resolutions;
    const DWORD count = isIndexed ? numIndexed : numResolutions;
    const ResolutionPair& pair = (list && r < count) ? list[r] : inUse[r];
    per.logX = pair.x;
    per.logY = pair.y;
    if (isIndexed)
        TraceLogWrite(LibraryLog, 0, L"%s => Indexed Resolution: LogX = %d, LogY = %d\n", kForms, per.logX, per.logY);
    else
        TraceLogWrite(LibraryLog, 0, L"%s => Resolution: LogX = %d, LogY = %d\n", kForms, per.logX, per.logY);
}

// The flip test. The device context lives in *phdc while it is open, so that
// a caller guarding the test can give it back after a fault in the driver.
BOOL TurnedPageDiffers(LPCWSTR pDevice, LPCWSTR pDriver, DEVMODEW* pDevMode, LONG physW, LONG physH, LONG offX,
                       LONG offY, HDC* phdc) {
    pDevMode->dmFields |= DM_ORIENTATION;
    pDevMode->dmOrientation = pDevMode->dmOrientation == DMORIENT_PORTRAIT ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    *phdc = platform::gdi.CreateDCW(pDriver, pDevice, nullptr, pDevMode);
    const LONG turnedW = platform::gdi.GetDeviceCaps(*phdc, PHYSICALWIDTH);
    const LONG turnedH = platform::gdi.GetDeviceCaps(*phdc, PHYSICALHEIGHT);
    const LONG turnedX = platform::gdi.GetDeviceCaps(*phdc, PHYSICALOFFSETX);
    const LONG turnedY = platform::gdi.GetDeviceCaps(*phdc, PHYSICALOFFSETY);
    if (*phdc) platform::gdi.DeleteDC(*phdc);
    *phdc = nullptr;
    return (turnedW == physW && turnedH == physH && turnedX == offX && turnedY == offY) ? 0 : 1;
}

struct MeasureInput {
    LPCWSTR pDevice;
    LPCWSTR pDriver;
    const PaperBuffer* papers;
    DWORD numPapers;
    const ResolutionPair* inUse;
    DWORD numInUse;
    bool indexedOnly;
    const ResolutionPair* resolutions;
    DWORD numResolutions;
    const ResolutionPair* indexed;
    DWORD numIndexed;
    bool ignoreLogPixels;
};

// Returns false when the working DEVMODE cannot be allocated.
bool MeasuredForms(FormEntry* forms, const MeasureInput& in) {
    auto* work = platform::HeapAllocZeroAs<DEVMODEW>(sizeof(DEVMODEW));
    if (!work) {
        TraceLogWrite(LibraryLog, 0, L"%s => couldn't allocate devmode\n", kForms);
        return false;
    }
    // Only the fields that are probed are set: the merge reads nothing else.
    work->dmOrientation = DMORIENT_PORTRAIT;
    work->dmFields |= DM_ORIENTATION;

    // Whether turning the page over changes it is asked once per printer, on
    // the first form whose page is not the same both ways round; until then
    // every form says it may.
    LONG flip = 1;
    bool flipPending = true;
    PerResolution per = {};
    const DWORD P = in.numPapers;

    for (DWORD r = 0; r < in.numInUse; ++r) {
        if (in.indexedOnly) {
            work->dmPrintQuality = static_cast<short>(-1 - static_cast<int>(r));
            work->dmYResolution = 0;
            work->dmFields |= DM_PRINTQUALITY;
        } else {
            work->dmPrintQuality = static_cast<short>(in.inUse[r].x);
            work->dmYResolution = static_cast<short>(in.inUse[r].y);
            work->dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
        }
        WriteResolutionHeader(static_cast<int>(r), work->dmPrintQuality, work->dmYResolution);

        for (DWORD j = 0; j < P; ++j) {
            SelectPaper(work, in.papers, j);
            TraceLogWriteRaw(LibraryLog, 0, L"[%5d,%5d] ", static_cast<int>(work->dmPaperWidth),
                             static_cast<int>(work->dmPaperLength));

            FormEntry& f = forms[r * P + j];
            f.formNo = static_cast<LONG>(r * P + j);
            f.paprI = work->dmPaperSize;
            f.paprW = work->dmPaperWidth;
            f.paprL = work->dmPaperLength;
            f.resX = work->dmPrintQuality;
            f.resY = work->dmYResolution;
            f.resNo = in.indexedOnly ? -1 - static_cast<LONG>(r) : static_cast<LONG>(r);

            DriverDevMode driver = {};
            HDC dc = nullptr;
            bool fallback = false;
            const bool ran = MeasureAndRelease([&] {
                vlibPRINT_FetchDriverDevMode(kForms, in.pDevice, work, &driver);
                if (driver.bAllocFailed) {
                    fallback = true;
                    return;
                }
                dc = platform::gdi.CreateDCW(in.pDriver, in.pDevice, nullptr, driver.pDevMode);
                if (j == 0) {
                    per.aspX = platform::gdi.GetDeviceCaps(dc, ASPECTX);
                    per.aspY = platform::gdi.GetDeviceCaps(dc, ASPECTY);
                    per.aspXY = platform::gdi.GetDeviceCaps(dc, ASPECTXY);
                    if (in.ignoreLogPixels) {
                        LogPixelsFromLists(per, work->dmPrintQuality, r, in.inUse, in.resolutions, in.numResolutions,
                                           in.indexed, in.numIndexed);
                    } else {
                        per.logX = platform::gdi.GetDeviceCaps(dc, LOGPIXELSX);
                        per.logY = platform::gdi.GetDeviceCaps(dc, LOGPIXELSY);
                    }
                }
                ApplyPerResolution(f, per);
                f.hsize = platform::gdi.GetDeviceCaps(dc, HORZSIZE);
                f.vsize = platform::gdi.GetDeviceCaps(dc, VERTSIZE);
                f.hres = platform::gdi.GetDeviceCaps(dc, HORZRES);
                f.vres = platform::gdi.GetDeviceCaps(dc, VERTRES);
                f.physW = platform::gdi.GetDeviceCaps(dc, PHYSICALWIDTH);
                f.physH = platform::gdi.GetDeviceCaps(dc, PHYSICALHEIGHT);
                f.offX = platform::gdi.GetDeviceCaps(dc, PHYSICALOFFSETX);
                f.offY = platform::gdi.GetDeviceCaps(dc, PHYSICALOFFSETY);
                WriteFormRow(f);
                if (dc) platform::gdi.DeleteDC(dc);
                dc = nullptr;

                if (flipPending) {
                    if (f.physW == f.physH && f.offX == f.offY) {
                        // The same page either way round: nothing learnt yet.
                        flip = 1;
                    } else if (!driver.pDevMode) {
                        // Nothing to turn over without the driver's DEVMODE.
                        fallback = true;
                        return;
                    } else {
                        flip = TurnedPageDiffers(in.pDevice, in.pDriver, driver.pDevMode, f.physW, f.physH, f.offX,
                                                 f.offY, &dc);
                        if (flip == 1) TraceLogWriteRaw(LibraryLog, 0, L"!");
                        flipPending = false;
                    }
                }
                f.orientFlag = flip;
            }, &driver, &dc, {work});

            if (!ran || fallback) {
                TraceLogWrite(LibraryLog, 0, L"EXCEPTION: ");
                if (j == 0) per = kFallbackPerResolution;
                ApplyPerResolution(f, per);
                ApplyFallbackPage(f);
            }
        }
    }

    platform::HeapFreeBlock(work);
    return true;
}

}  // namespace

FormEntry* vlibPRINT_QueryDevCap_Forms(LPCWSTR pDevice, LPCWSTR /*pPort*/, LPCWSTR pDriver,
                                       const DEVMODEW* /*pDevMode*/, const PaperBuffer* pPapers,
                                       const ResolutionPair* pResolutions, DWORD dwNumResolutions, DWORD bIndexedOnly,
                                       const ResolutionPair* pResolutionsIndexed, DWORD dwNumResolutionsIndexed,
                                       DWORD* pdwNum, DWORD* pdwSize, DWORD bIgnoreLogPixels) {
    TraceLogWrite(LibraryLog, 0, L"%s => \n", kForms);

    const ResolutionPair* inUse = bIndexedOnly ? pResolutionsIndexed : pResolutions;
    const DWORD R = inUse ? (bIndexedOnly ? dwNumResolutionsIndexed : dwNumResolutions) : 0;
    const DWORD P = pPapers ? pPapers->dwNumPaperSize : 0;
    DWORD N = 0, bytes = 0;
    if (!platform::BlockBytes(P, R, &N) || !platform::BlockBytes(N, sizeof(FormEntry), &bytes)) {
        // No block can hold the table: the query fails as it does without memory.
        TraceLogWrite(LibraryLog, 0, L"%s => !WARNING! %u papers x %u resolutions do not fit in one block\n", kForms,
                      P, R);
        if (pdwNum) *pdwNum = 0;
        if (pdwSize) *pdwSize = 0;
        return nullptr;
    }
    if (pdwNum) *pdwNum = N;
    if (pdwSize) *pdwSize = bytes;
    TraceLogWrite(LibraryLog, 0, L"%s => size %d\n", kForms, static_cast<int>(bytes));

    auto* forms = platform::HeapAllocZeroAs<FormEntry>(bytes);
    if (!forms) {
        if (pdwNum) *pdwNum = 0;
        if (pdwSize) *pdwSize = 0;
        return nullptr;
    }
    TraceLogWrite(LibraryLog, 0, L"%s => num: %d (size: %d)\n", kForms, static_cast<int>(N), static_cast<int>(bytes));

    if (!pDevice) {
        DefaultForms(forms, pPapers, P, inUse, R);
    } else {
        const MeasureInput in = {pDevice,
                                 pDriver,
                                 pPapers,
                                 P,
                                 inUse,
                                 R,
                                 bIndexedOnly != 0,
                                 pResolutions,
                                 pResolutions ? dwNumResolutions : 0,
                                 pResolutionsIndexed,
                                 pResolutionsIndexed ? dwNumResolutionsIndexed : 0,
                                 bIgnoreLogPixels != 0};
        bool measured = false;
        try {
            measured = MeasuredForms(forms, in);
        } catch (...) {
            platform::HeapFreeBlock(forms);
            throw;
        }
        if (!measured) {
            platform::HeapFreeBlock(forms);
            if (pdwNum) *pdwNum = 0;
            if (pdwSize) *pdwSize = 0;
            return nullptr;
        }
    }

    TraceLogWrite(LibraryLog, 0, L"%s => exiting\n", kForms);
    return forms;
}

BOOL OrientationChangesPage(LPCWSTR pDevice, LPCWSTR pDriver, DEVMODEW* pDevMode, LONG physW, LONG physH, LONG offX,
                            LONG offY) {
    HDC dc = nullptr;
    BOOL changes = 1;
    platform::DeletingDcOnFault(
        &dc, [&] { changes = TurnedPageDiffers(pDevice, pDriver, pDevMode, physW, physH, offX, offY, &dc); });
    return changes;
}
