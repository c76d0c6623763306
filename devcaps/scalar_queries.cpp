#include "devcaps/scalar_queries.h"

#include "log/trace_log.h"
#include "platform/guard.h"

// The index values are part of the capability record's meaning: pin them.
#define KV_DEVCAP_PIN(member, index, value, def, exc, trace) \
    static_assert(index == value, "DeviceCapabilities index of " #member);
KV_DEVCAP_SCALARS(KV_DEVCAP_PIN)
#undef KV_DEVCAP_PIN

const ScalarCapability kScalarCapabilities[kScalarCapabilityCount] = {
#define KV_DEVCAP_ROW(member, index, value, def, exc, trace) \
    {L"" #member, L"" #index, value, static_cast<int>(def), exc, ScalarTrace::trace},
    KV_DEVCAP_SCALARS(KV_DEVCAP_ROW)
#undef KV_DEVCAP_ROW
};

namespace {

struct FlagName {
    DWORD bit;
    const WCHAR* name;
};

// DEVMODE field flags with a name, in ascending bit order. DM_SCALE (0x10),
// DM_DISPLAYORIENTATION (0x80) and the bits above DM_PANNINGHEIGHT are
// never written.
const FlagName kFieldNames[] = {
    {0x00000001, L"DM_ORIENTATION"},   {0x00000002, L"DM_PAPERSIZE"},      {0x00000004, L"DM_PAPERLENGTH"},
    {0x00000008, L"DM_PAPERWIDTH"},    {0x00000020, L"DM_POSITION"},       {0x00000040, L"DM_NUP"},
    {0x00000100, L"DM_COPIES"},        {0x00000200, L"DM_DEFAULTSOURCE"},  {0x00000400, L"DM_PRINTQUALITY"},
    {0x00000800, L"DM_COLOR"},         {0x00001000, L"DM_DUPLEX"},         {0x00002000, L"DM_YRESOLUTION"},
    {0x00004000, L"DM_TTOPTION"},      {0x00008000, L"DM_COLLATE"},        {0x00010000, L"DM_FORMNAME"},
    {0x00020000, L"DM_LOGPIXELS"},     {0x00040000, L"DM_BITSPERPEL"},     {0x00080000, L"DM_PELSWIDTH"},
    {0x00100000, L"DM_PELSHEIGHT"},    {0x00200000, L"DM_DISPLAYFLAGS"},   {0x00400000, L"DM_DISPLAYFREQUENCY"},
    {0x00800000, L"DM_ICMMETHOD"},     {0x01000000, L"DM_ICMINTENT"},      {0x02000000, L"DM_MEDIATYPE"},
    {0x04000000, L"DM_DITHERTYPE"},    {0x08000000, L"DM_PANNINGWIDTH"},   {0x10000000, L"DM_PANNINGHEIGHT"},
};
static_assert(DM_ORIENTATION == 0x1 && DM_POSITION == 0x20 && DM_NUP == 0x40 && DM_TTOPTION == 0x4000);
static_assert(DM_FORMNAME == 0x10000 && DM_DITHERTYPE == 0x4000000 && DM_PANNINGHEIGHT == 0x10000000);

const WCHAR* RateUnitText(int unit) {
    switch (unit) {
    case 1: return L"Pages per minute.";
    case 2: return L"Characters per second.";
    case 3: return L"Lines per minute. ";
    case 4: return L"Inches per minute.";
    default: return L"unknown units.";
    }
}

void TraceResult(const ScalarCapability& cap, int value) {
    switch (cap.trace) {
    case ScalarTrace::Number:
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => %d\n", cap.member, value);
        break;
    case ScalarTrace::Extent: {
        const DWORD bits = static_cast<DWORD>(value);
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => (W,H): %d, %d\n", cap.member,
                      static_cast<int>(bits & 0xFFFF), static_cast<int>(bits >> 16));
        break;
    }
    case ScalarTrace::RateUnit:
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => %d ", cap.member, value);
        TraceLogWriteRaw(LibraryLog, 0, L"%s\n", RateUnitText(value));
        break;
    case ScalarTrace::Fields:
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => %d\n", cap.member, value);
        TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => ", cap.member);
        for (const FlagName& flag : kFieldNames) {
            if (static_cast<DWORD>(value) & flag.bit) TraceLogWriteRaw(LibraryLog, 0, L"%s | ", flag.name);
        }
        TraceLogWriteRaw(LibraryLog, 0, L"\n");
        break;
    }
}

}  // namespace

int vlibPRINT_QueryDevCap_Scalar(DevCapScalar which, LPCWSTR pDevice, LPCWSTR pPort, const DEVMODEW* pDevMode) {
    const ScalarCapability& cap = kScalarCapabilities[static_cast<int>(which)];
    TraceLogWrite(LibraryLog, 0, L"vlibPRINT_QueryDevCap_%s => %s\n", cap.member, cap.indexName);
    int value = 0;
    if (!pDevice) {
        TraceLogWrite(LibraryLog, 0, L"using defaults\n");
        value = cap.defaultValue;
    } else {
        // No output buffer, ever: for the string-valued indexes the number is
        // whatever the driver answers to the bare call.
        const WORD index = cap.index;
        int answer = 0;
        if (platform::Guarded([&] {
                answer = platform::spooler.DeviceCapabilitiesW(pDevice, pPort, index, nullptr, pDevMode);
            })) {
            value = answer;
        } else {
            TraceLogWrite(LibraryLog, 0, L"threw exception\n");
            value = cap.exceptionValue;
        }
    }
    TraceResult(cap, value);
    return value;
}
