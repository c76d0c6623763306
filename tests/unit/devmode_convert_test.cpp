#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>

#include "print/devmode_convert.h"

namespace {

// The public byte ranges the converters copy value for value, wide and narrow
// (dmSpecVersion .. dmCollate, dmLogPixels .. dmNup, dmICMMethod .. dmDitherType),
// and the five fields they never write (dmDisplayFrequency, dmReserved1 ..
// dmPanningHeight).
struct Range { size_t wide, narrow, length; };
constexpr Range kCopied[] = {{64, 32, 38}, {166, 102, 18}, {188, 124, 16}};
constexpr Range kUntouched[] = {{184, 120, 4}, {204, 140, 16}};

BYTE* At(const void* record, size_t offset) { return const_cast<BYTE*>(static_cast<const BYTE*>(record)) + offset; }

// ASCII and Western-European text for every slot (the last one filled to its
// final character), and the same text in code page 1252.
const wchar_t* const kWide[7] = {L"C:\\Programme\\Fa\u00e7ade\\srv.exe", L"--mode=r\u00e9sum\u00e9 \u201cx\u201d",
                                 L"\u00c6r\u00f8sk\u00f8bing \u0152uvre \u0161\u017e", L"-price 10\u20ac \u2026",
                                 L"Stra\u00dfe Drucker #2", L"\\\\srv\\sp\u00e4ter", nullptr};
const char* const kNarrow[7] = {"C:\\Programme\\Fa\xE7" "ade\\srv.exe", "--mode=r\xE9sum\xE9 \x93x\x94",
                                "\xC6r\xF8sk\xF8" "bing \x8Cuvre \x9A\x9E", "-price 10\x80 \x85",
                                "Stra\xDF" "e Drucker #2", "\\\\srv\\sp\xE4ter", nullptr};

template <class R>
auto Slots(R& r) {
    return std::array{r.szServerCommandLine, r.szServerArgs, r.szClientCommandLine, r.szClientArgs,
                      r.szNativePrinterName, r.szServerDestination, r.szClientDestination};
}

PRIVATE_DEVMODEW MakePrivate() {
    PRIVATE_DEVMODEW pdm{};
    for (size_t i = 0; i < sizeof(DEVMODEW); ++i) reinterpret_cast<BYTE*>(&pdm.dm)[i] = BYTE(i * 7 + 1);
    std::memset(pdm.dm.dmDeviceName, 0, sizeof(pdm.dm.dmDeviceName)), std::memset(pdm.dm.dmFormName, 0, 64);
    wcscpy(pdm.dm.dmDeviceName, L"B\u00fcro Drucker \u20ac"), wcscpy(pdm.dm.dmFormName, L"Lettre \u00e0 l'italienne");
    // Sizes of their own, not the wide structure's 220 + 3688, though they add up to the same record.
    pdm.dm.dmSize = 212, pdm.dm.dmDriverExtra = 3696, pdm.dwSignatureStart = pdm.dwSignatureEnd = kPrivateDM4Signature;
    for (DWORD i = 0; i < 10; ++i) (&pdm.dwPrivateFields)[i] = 0x01010101u * (i + 1);  // .. dwIfExistsClient
    for (size_t i = 0; i < 6; ++i) wcscpy(Slots(pdm)[i], kWide[i]);
    for (size_t i = 0; i < 259; ++i) pdm.szClientDestination[i] = (i % 2) ? L'\u00fc' : L'a';
    return pdm;
}

TEST(ConvertDM, PrivateRecordToNarrowAndBackThroughCodePage1252) {
    const PRIVATE_DEVMODEW wide = MakePrivate();
    PRIVATE_DEVMODEW scratch = wide;
    PRIVATE_DEVMODEA narrow, again;  // the earlier name does the same work; no byte zero: a cleared destination shows
    std::memset(&narrow, 0x5A, sizeof(narrow)), std::memset(&again, 0x5A, sizeof(again));
    // Null arguments write nothing, whatever the code page.
    ConvertDMtoAnsi(nullptr, &narrow.dm), ConvertDMtoAnsi(&wide.dm, nullptr), vlibPRINT_ConvertDMtoWide(nullptr, &scratch.dm);
    vlibPRINT_ConvertDM4toAnsi(nullptr, &narrow), ConvertDM2toAnsi(&wide, nullptr), vlibPRINT_ConvertDM4toWide(nullptr, &scratch);
    EXPECT_EQ(std::memcmp(&scratch, &wide, sizeof(wide)) | std::memcmp(&narrow, &again, sizeof(narrow)), 0);
    if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 1252";
    vlibPRINT_ConvertDM4toAnsi(&wide, &narrow), ConvertDM2toAnsi(&wide, &again);
    EXPECT_EQ(std::memcmp(&again, &narrow, sizeof(again)), 0);
    for (const Range& r : kCopied) EXPECT_EQ(std::memcmp(At(&wide, r.wide), At(&narrow, r.narrow), r.length), 0);
    for (const Range& r : kUntouched)
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(At(&narrow, r.narrow)), r.length), std::string(r.length, 'Z'));
    EXPECT_STREQ(reinterpret_cast<const char*>(narrow.dm.dmDeviceName), "B\xFCro Drucker \x80");
    EXPECT_STREQ(reinterpret_cast<const char*>(narrow.dm.dmFormName), "Lettre \xE0 l'italienne");
    EXPECT_EQ(std::memcmp(&narrow.dwSignatureStart, &wide.dwSignatureStart, 11 * sizeof(DWORD)), 0);
    for (size_t i = 0; i < 6; ++i) EXPECT_STREQ(Slots(narrow)[i], kNarrow[i]) << "slot " << i;
    // Back to wide: everything but the five untouched fields comes back; those
    // keep what the destination held.
    PRIVATE_DEVMODEW back{}, expected = wide;
    for (const Range& r : kUntouched)
        std::memset(At(&back, r.wide), 0x6B, r.length), std::memset(At(&expected, r.wide), 0x6B, r.length);
    vlibPRINT_ConvertDM4toWide(&narrow, &back);
    EXPECT_EQ(std::memcmp(&back, &expected, sizeof(back)), 0);
}

}  // namespace
