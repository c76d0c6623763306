// Public DEVMODEs of any dmSize / dmDriverExtra (each its own block of that
// many bytes) and private DEVMODEs: conversions both ways, merge, compare, dumps.
#include <algorithm>
#include <cstddef>

#include "print/devmode_convert.h"
#include "print/devmode_merge.h"
#include "print/private_devmode.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The DEVMODE at `at` in the input, in a block of dmSize + dmDriverExtra
// bytes, and at least `least`: the dumps take any DEVMODE that has the fields
// every version since 0x0320 has (up to dmDisplayFrequency), merge, compare
// and the converters a whole public DEVMODE. Nothing reads past the largest
// record laid over it: a block cut there finds every read past its end the
// whole block would, without zeroing up to 128 KB for each.
template <class DM>
FuzzBlock Devmode(const uint8_t* data, size_t size, size_t at, size_t least = sizeof(DM)) {
    at = at < size ? at : size;
    const DM head = *FuzzBlock(data + at, size - at, sizeof(DM)).as<DM>();
    const size_t most = std::max({sizeof(PRIVATE_DEVMODEW), sizeof(PRIVATE_DEVMODE2W), sizeof(TESS_DEVMODEW)});
    const size_t length = std::max<size_t>(std::min<size_t>(size_t{head.dmSize} + head.dmDriverExtra, most), least);
    return FuzzBlock(data + at, size - at, length);
}

// The dumps of the private (both forms) and other drivers' DEVMODEs, each
// with the public one it starts with, the conversion to the other width,
// compare and merge.
template <class DM, class Ch, class Other>
void Public(const uint8_t* data, size_t size, TraceLog* log, void (*convert)(const DM*, Other*)) {
    FuzzBlock dump = Devmode<DM>(data, size, 0, offsetof(DM, dmICMMethod));
    LogDM(dump.as<PrivateDevmode<DM, Ch, PrivateDevmodeDm3Form>>(), log);
    LogDM(dump.as<PrivateDevmode<DM, Ch, PrivateDevmodeEarlierForm>>(), log);
    LogTessDM(dump.as<TessDevmode<DM, Ch>>(), log);
    FuzzBlock a = Devmode<DM>(data, size, 0), b = Devmode<DM>(data, size, size / 2);
    Other converted{};
    convert(a.as<DM>(), &converted);
    FUZZ_EXPECT(CompareDM(a.as<DM>(), a.as<DM>(), nullptr) == 0);  // untraced: its dumps would repeat those of `dump`
    const DWORD before = b.as<DM>()->dmFields;
    MergeDM(a.as<DM>(), b.as<DM>(), log);
    FUZZ_EXPECT((b.as<DM>()->dmFields & before) == before);  // a merge never clears a bit
    CompareDM(a.as<DM>(), b.as<DM>(), log);
}

}  // namespace

int FuzzInput(const uint8_t* data, size_t size) {
    TraceLog* log = FuzzLog();
    Public<DEVMODEW, WCHAR>(data, size, log, ConvertDMtoAnsi);
    Public<DEVMODEA, char>(data, size, log, vlibPRINT_ConvertDMtoWide);

    // Whole private records: wide to narrow and back keeps every number.
    FuzzBlock record(data, size, sizeof(PRIVATE_DEVMODEW));
    const PRIVATE_DEVMODEW* in = record.as<PRIVATE_DEVMODEW>();
    PRIVATE_DEVMODEA middle{};
    PRIVATE_DEVMODEW out{};
    vlibPRINT_ConvertDM4toAnsi(in, &middle);
    vlibPRINT_ConvertDM4toWide(&middle, &out);
    FUZZ_EXPECT(!std::memcmp(&out.dwSignatureStart, &in->dwSignatureStart, 11 * sizeof(DWORD)));
    FUZZ_EXPECT(out.dwSignatureEnd == in->dwSignatureEnd && out.dm.dmFields == in->dm.dmFields);
    FUZZ_EXPECT(!std::memcmp(&out.dm.dmOrientation, &in->dm.dmOrientation, 13 * sizeof(short)));
    LogDM(&out, log);
    return 0;
}
