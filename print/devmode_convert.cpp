#include "print/devmode_convert.h"

#include <cstddef>
#include <cstring>

#include "log/trace_log.h"
#include "print/dump_text.h"

namespace {

using dumptext::SlotText;

// Code-page conversion of one text slot into another of the same character
// count. The source is read only up to its slot's end; a result that does not
// fit is left as the conversion leaves it. Narrow slots are BYTE in the public
// DEVMODEA and CHAR in the private record.
template <class Narrow, size_t N, size_t M>
void ConvertText(const WCHAR (&source)[N], Narrow (&target)[M]) {
    static_assert(sizeof(Narrow) == 1);
    ::WideCharToMultiByte(CP_ACP, 0, SlotText(source).get(), -1, reinterpret_cast<LPSTR>(target),
                          static_cast<int>(M), nullptr, nullptr);
}
template <class Narrow, size_t N, size_t M>
void ConvertText(const Narrow (&source)[N], WCHAR (&target)[M]) {
    static_assert(sizeof(Narrow) == 1);
    ::MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(SlotText(source).get()), -1, target,
                          static_cast<int>(M));
}

// The public fields, in one direction or the other. dmDisplayFrequency,
// dmReserved1, dmReserved2 and the two panning fields are not written: the
// destination keeps what it held there.
template <class Source, class Target>
void ConvertPublic(const WCHAR* name, const Source* in, Target* out) {
    if (!in || !out) {
        TraceLogWrite(LibraryLog, 0, L"%s => something is null, get a life\n", name);
        return;
    }
    ConvertText(in->dmDeviceName, out->dmDeviceName);
    out->dmSpecVersion = in->dmSpecVersion;
    out->dmDriverVersion = in->dmDriverVersion;
    out->dmSize = in->dmSize;
    out->dmDriverExtra = in->dmDriverExtra;
    out->dmFields = in->dmFields;
    out->dmOrientation = in->dmOrientation;
    out->dmPaperSize = in->dmPaperSize;
    out->dmPaperLength = in->dmPaperLength;
    out->dmPaperWidth = in->dmPaperWidth;
    out->dmScale = in->dmScale;
    out->dmCopies = in->dmCopies;
    out->dmDefaultSource = in->dmDefaultSource;
    out->dmPrintQuality = in->dmPrintQuality;
    out->dmColor = in->dmColor;
    out->dmDuplex = in->dmDuplex;
    out->dmYResolution = in->dmYResolution;
    out->dmTTOption = in->dmTTOption;
    out->dmCollate = in->dmCollate;
    ConvertText(in->dmFormName, out->dmFormName);
    out->dmLogPixels = in->dmLogPixels;
    out->dmBitsPerPel = in->dmBitsPerPel;
    out->dmPelsWidth = in->dmPelsWidth;
    out->dmPelsHeight = in->dmPelsHeight;
    out->dmNup = in->dmNup;
    out->dmICMMethod = in->dmICMMethod;
    out->dmICMIntent = in->dmICMIntent;
    out->dmMediaType = in->dmMediaType;
    out->dmDitherType = in->dmDitherType;
}

// The eleven 32-bit values from dwSignatureStart through dwIfExistsClient
// sit back to back in both widths.
constexpr size_t kPrivateValueBytes =
    offsetof(PRIVATE_DEVMODEW, dwIfExistsClient) + sizeof(DWORD) - offsetof(PRIVATE_DEVMODEW, dwSignatureStart);
static_assert(kPrivateValueBytes == 11 * sizeof(DWORD));
static_assert(offsetof(PRIVATE_DEVMODEA, dwIfExistsClient) + sizeof(DWORD) -
                  offsetof(PRIVATE_DEVMODEA, dwSignatureStart) ==
              kPrivateValueBytes);

template <class Source, class Target, class PublicConverter>
void ConvertPrivate(const WCHAR* name, const Source* in, Target* out, PublicConverter convertPublic) {
    if (!in || !out) {
        TraceLogWrite(LibraryLog, 0, L"%s => something is null, get a life\n", name);
        return;
    }
    convertPublic(&in->dm, &out->dm);
    std::memcpy(&out->dwSignatureStart, &in->dwSignatureStart, kPrivateValueBytes);
    ConvertText(in->szServerCommandLine, out->szServerCommandLine);
    ConvertText(in->szServerArgs, out->szServerArgs);
    ConvertText(in->szClientCommandLine, out->szClientCommandLine);
    // The fourth slot is carried across as well: the dm3 form gives it a
    // meaning (bit 15 of dwPrivateFields), and a converted record that lost
    // it would no longer say what its source said.
    ConvertText(in->szClientArgs, out->szClientArgs);
    ConvertText(in->szNativePrinterName, out->szNativePrinterName);
    ConvertText(in->szServerDestination, out->szServerDestination);
    ConvertText(in->szClientDestination, out->szClientDestination);
    out->dwSignatureEnd = in->dwSignatureEnd;
}

}  // namespace

void ConvertDMtoAnsi(const DEVMODEW* pdmIn, DEVMODEA* pdmOut) { ConvertPublic(L"ConvertDMtoAnsi", pdmIn, pdmOut); }

void vlibPRINT_ConvertDMtoWide(const DEVMODEA* pdmIn, DEVMODEW* pdmOut) {
    ConvertPublic(L"vlibPRINT_ConvertDMtoWide", pdmIn, pdmOut);
}

void vlibPRINT_ConvertDM4toAnsi(const PRIVATE_DEVMODEW* pdmIn, PRIVATE_DEVMODEA* pdmOut) {
    ConvertPrivate(L"vlibPRINT_ConvertDM4toAnsi", pdmIn, pdmOut, ConvertDMtoAnsi);
}

void ConvertDM2toAnsi(const PRIVATE_DEVMODEW* pdmIn, PRIVATE_DEVMODEA* pdmOut) {
    ConvertPrivate(L"ConvertDM2toAnsi", pdmIn, pdmOut, ConvertDMtoAnsi);
}

void vlibPRINT_ConvertDM4toWide(const PRIVATE_DEVMODEA* pdmIn, PRIVATE_DEVMODEW* pdmOut) {
    ConvertPrivate(L"vlibPRINT_ConvertDM4toWide", pdmIn, pdmOut, vlibPRINT_ConvertDMtoWide);
}
