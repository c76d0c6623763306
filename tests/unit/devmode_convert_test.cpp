#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "print/devmode_convert.h"
#include "trace_capture.h"

namespace {

using testsupport::TraceCapture;

// Both the wide and the narrow text of the strings below assume the Western
// European ANSI code page.
#define REQUIRE_CODE_PAGE_1252()                                                              \
    do {                                                                                      \
        if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 1252"; \
    } while (0)

// The five public fields the converters never write.
template <class DM>
void FillUntouched(DM& dm, DWORD base) {
    dm.dmDisplayFrequency = base + 1;
    dm.dmReserved1 = base + 2;
    dm.dmReserved2 = base + 3;
    dm.dmPanningWidth = base + 4;
    dm.dmPanningHeight = base + 5;
}
template <class DM>
void ExpectUntouched(const DM& dm, DWORD base) {
    EXPECT_EQ(dm.dmDisplayFrequency, base + 1);
    EXPECT_EQ(dm.dmReserved1, base + 2);
    EXPECT_EQ(dm.dmReserved2, base + 3);
    EXPECT_EQ(dm.dmPanningWidth, base + 4);
    EXPECT_EQ(dm.dmPanningHeight, base + 5);
}

void FillPublic(DEVMODEW& dm) {
    wcscpy(dm.dmDeviceName, L"B\u00fcro Drucker \u20ac");  // "Büro Drucker €"
    dm.dmSpecVersion = 0x0401;
    dm.dmDriverVersion = 0x0600;
    dm.dmSize = 220;
    dm.dmDriverExtra = 3688;
    dm.dmFields = 0x7FFFFFFF;
    dm.dmOrientation = 2;
    dm.dmPaperSize = 9;
    dm.dmPaperLength = 2970;
    dm.dmPaperWidth = 2100;
    dm.dmScale = 95;
    dm.dmCopies = 4;
    dm.dmDefaultSource = 15;
    dm.dmPrintQuality = -4;
    dm.dmColor = 2;
    dm.dmDuplex = 3;
    dm.dmYResolution = 1200;
    dm.dmTTOption = 2;
    dm.dmCollate = 1;
    wcscpy(dm.dmFormName, L"Lettre \u00e0 l'italienne");
    dm.dmLogPixels = 96;
    dm.dmBitsPerPel = 32;
    dm.dmPelsWidth = 1024;
    dm.dmPelsHeight = 768;
    dm.dmNup = 2;
    dm.dmICMMethod = 3;
    dm.dmICMIntent = 4;
    dm.dmMediaType = 258;
    dm.dmDitherType = 5;
}

template <class A, class B>
void ExpectSameValues(const A& a, const B& b) {
    EXPECT_EQ(a.dmSpecVersion, b.dmSpecVersion);
    EXPECT_EQ(a.dmDriverVersion, b.dmDriverVersion);
    EXPECT_EQ(a.dmSize, b.dmSize);
    EXPECT_EQ(a.dmDriverExtra, b.dmDriverExtra);
    EXPECT_EQ(a.dmFields, b.dmFields);
    EXPECT_EQ(a.dmOrientation, b.dmOrientation);
    EXPECT_EQ(a.dmPaperSize, b.dmPaperSize);
    EXPECT_EQ(a.dmPaperLength, b.dmPaperLength);
    EXPECT_EQ(a.dmPaperWidth, b.dmPaperWidth);
    EXPECT_EQ(a.dmScale, b.dmScale);
    EXPECT_EQ(a.dmCopies, b.dmCopies);
    EXPECT_EQ(a.dmDefaultSource, b.dmDefaultSource);
    EXPECT_EQ(a.dmPrintQuality, b.dmPrintQuality);
    EXPECT_EQ(a.dmColor, b.dmColor);
    EXPECT_EQ(a.dmDuplex, b.dmDuplex);
    EXPECT_EQ(a.dmYResolution, b.dmYResolution);
    EXPECT_EQ(a.dmTTOption, b.dmTTOption);
    EXPECT_EQ(a.dmCollate, b.dmCollate);
    EXPECT_EQ(a.dmLogPixels, b.dmLogPixels);
    EXPECT_EQ(a.dmBitsPerPel, b.dmBitsPerPel);
    EXPECT_EQ(a.dmPelsWidth, b.dmPelsWidth);
    EXPECT_EQ(a.dmPelsHeight, b.dmPelsHeight);
    EXPECT_EQ(a.dmNup, b.dmNup);
    EXPECT_EQ(a.dmICMMethod, b.dmICMMethod);
    EXPECT_EQ(a.dmICMIntent, b.dmICMIntent);
    EXPECT_EQ(a.dmMediaType, b.dmMediaType);
    EXPECT_EQ(a.dmDitherType, b.dmDitherType);
}

std::string Bytes(const void* text) { return reinterpret_cast<const char*>(text); }

TEST(ConvertDM, PublicPartBothWaysKeepsSizesAndLeavesFiveFieldsAlone) {
    REQUIRE_CODE_PAGE_1252();
    DEVMODEW wide;
    std::memset(&wide, 0, sizeof(wide));
    FillPublic(wide);
    FillUntouched(wide, 100);

    DEVMODEA narrow;
    std::memset(&narrow, 0x5A, sizeof(narrow));
    FillUntouched(narrow, 200);
    ConvertDMtoAnsi(&wide, &narrow);
    ExpectSameValues(wide, narrow);
    EXPECT_EQ(narrow.dmSize, 220);  // not adjusted to the narrow size
    EXPECT_EQ(Bytes(narrow.dmDeviceName), "B\xFCro Drucker \x80");
    EXPECT_EQ(Bytes(narrow.dmFormName), "Lettre \xE0 l'italienne");
    ExpectUntouched(narrow, 200);

    DEVMODEW back;
    std::memset(&back, 0x5A, sizeof(back));
    FillUntouched(back, 300);
    vlibPRINT_ConvertDMtoWide(&narrow, &back);
    ExpectSameValues(narrow, back);
    EXPECT_STREQ(back.dmDeviceName, wide.dmDeviceName);
    EXPECT_STREQ(back.dmFormName, wide.dmFormName);
    ExpectUntouched(back, 300);
}

TEST(ConvertDM, NullArgumentsAreTracedAndNothingIsWritten) {
    TraceCapture capture;
    DEVMODEW wide;
    std::memset(&wide, 0x11, sizeof(wide));
    DEVMODEA narrow;
    std::memset(&narrow, 0x22, sizeof(narrow));
    ConvertDMtoAnsi(nullptr, &narrow);
    ConvertDMtoAnsi(&wide, nullptr);
    vlibPRINT_ConvertDMtoWide(nullptr, &wide);
    PRIVATE_DEVMODEW pdmW;
    std::memset(&pdmW, 0x33, sizeof(pdmW));
    PRIVATE_DEVMODEA pdmA;
    std::memset(&pdmA, 0x44, sizeof(pdmA));
    vlibPRINT_ConvertDM4toAnsi(nullptr, &pdmA);
    ConvertDM2toAnsi(&pdmW, nullptr);
    vlibPRINT_ConvertDM4toWide(nullptr, &pdmW);

    const std::vector<std::string> expected = {
        "ConvertDMtoAnsi => something is null, get a life",
        "ConvertDMtoAnsi => something is null, get a life",
        "vlibPRINT_ConvertDMtoWide => something is null, get a life",
        "vlibPRINT_ConvertDM4toAnsi => something is null, get a life",
        "ConvertDM2toAnsi => something is null, get a life",
        "vlibPRINT_ConvertDM4toWide => something is null, get a life",
    };
    EXPECT_EQ(capture.Lines(), expected);
    const unsigned char* w = reinterpret_cast<const unsigned char*>(&wide);
    const unsigned char* a = reinterpret_cast<const unsigned char*>(&narrow);
    const unsigned char* pw = reinterpret_cast<const unsigned char*>(&pdmW);
    const unsigned char* pa = reinterpret_cast<const unsigned char*>(&pdmA);
    for (size_t i = 0; i < sizeof(wide); ++i) ASSERT_EQ(w[i], 0x11);
    for (size_t i = 0; i < sizeof(narrow); ++i) ASSERT_EQ(a[i], 0x22);
    for (size_t i = 0; i < sizeof(pdmW); ++i) ASSERT_EQ(pw[i], 0x33);
    for (size_t i = 0; i < sizeof(pdmA); ++i) ASSERT_EQ(pa[i], 0x44);
}

// A wide private record with ASCII and Western-European text in every slot,
// the last one filled to its final character.
PRIVATE_DEVMODEW MakePrivate() {
    PRIVATE_DEVMODEW pdm;
    std::memset(&pdm, 0, sizeof(pdm));
    FillPublic(pdm.dm);
    pdm.dwSignatureStart = pdm.dwSignatureEnd = kPrivateDM4Signature;
    // dwPrivateFields through dwIfExistsClient: ten distinct values.
    DWORD values[10];
    for (DWORD i = 0; i < 10; ++i) values[i] = 0x01010101u * (i + 1);
    std::memcpy(&pdm.dwPrivateFields, values, sizeof(values));
    wcscpy(pdm.szServerCommandLine, L"C:\\Programme\\Fa\u00e7ade\\srv.exe");
    wcscpy(pdm.szServerArgs, L"--mode=r\u00e9sum\u00e9 --quote=\u201cx\u201d");
    wcscpy(pdm.szClientCommandLine, L"\u00c6r\u00f8sk\u00f8bing \u0152uvre \u0161\u017e");
    wcscpy(pdm.szClientArgs, L"-price 10\u20ac \u2026");
    wcscpy(pdm.szNativePrinterName, L"Stra\u00dfe Drucker #2");
    wcscpy(pdm.szServerDestination, L"\\\\srv\\sp\u00e4ter");
    for (size_t i = 0; i < 259; ++i) pdm.szClientDestination[i] = (i % 2) ? L'\u00fc' : L'a';
    return pdm;
}

TEST(ConvertDM, PrivateRecordKeepsWideSizesAndEverySlot) {
    REQUIRE_CODE_PAGE_1252();
    const PRIVATE_DEVMODEW wide = MakePrivate();
    PRIVATE_DEVMODEA narrow;
    std::memset(&narrow, 0, sizeof(narrow));
    vlibPRINT_ConvertDM4toAnsi(&wide, &narrow);

    EXPECT_EQ(narrow.dm.dmSize, 220);
    EXPECT_EQ(narrow.dm.dmDriverExtra, 3688);
    EXPECT_TRUE(IsPrivateDM4A(&narrow));
    EXPECT_EQ(std::memcmp(&narrow.dwSignatureStart, &wide.dwSignatureStart, 11 * sizeof(DWORD)), 0);
    EXPECT_EQ(narrow.dwSignatureEnd, kPrivateDM4Signature);
    EXPECT_EQ(Bytes(narrow.szServerCommandLine), "C:\\Programme\\Fa\xE7" "ade\\srv.exe");
    EXPECT_EQ(Bytes(narrow.szServerArgs), "--mode=r\xE9sum\xE9 --quote=\x93x\x94");
    EXPECT_EQ(Bytes(narrow.szClientCommandLine), "\xC6r\xF8sk\xF8" "bing \x8Cuvre \x9A\x9E");
    EXPECT_EQ(Bytes(narrow.szClientArgs), "-price 10\x80 \x85");
    EXPECT_EQ(Bytes(narrow.szNativePrinterName), "Stra\xDF" "e Drucker #2");
    EXPECT_EQ(Bytes(narrow.szServerDestination), "\\\\srv\\sp\xE4ter");
    ASSERT_EQ(std::strlen(narrow.szClientDestination), 259u);
    EXPECT_EQ(static_cast<unsigned char>(narrow.szClientDestination[257]), 0xFC);
    EXPECT_EQ(narrow.szClientDestination[258], 'a');

    // The earlier name does the same work.
    PRIVATE_DEVMODEA again;
    std::memset(&again, 0, sizeof(again));
    ConvertDM2toAnsi(&wide, &again);
    EXPECT_EQ(std::memcmp(&again, &narrow, sizeof(again)), 0);
}

TEST(ConvertDM, PrivateRecordRoundTripsThroughTheAnsiCodePage) {
    REQUIRE_CODE_PAGE_1252();
    const PRIVATE_DEVMODEW wide = MakePrivate();  // the five untouched fields are 0 here
    PRIVATE_DEVMODEA narrow;
    std::memset(&narrow, 0, sizeof(narrow));
    vlibPRINT_ConvertDM4toAnsi(&wide, &narrow);
    PRIVATE_DEVMODEW back;
    std::memset(&back, 0, sizeof(back));
    vlibPRINT_ConvertDM4toWide(&narrow, &back);
    EXPECT_TRUE(IsPrivateDM4W(&back));
    EXPECT_EQ(std::memcmp(&back, &wide, sizeof(back)), 0);
    EXPECT_STREQ(back.szClientArgs, wide.szClientArgs);
    EXPECT_STREQ(back.szClientDestination, wide.szClientDestination);

    // A destination keeps its own five untouched fields on the way back too.
    FillUntouched(back.dm, 400);
    vlibPRINT_ConvertDM4toWide(&narrow, &back);
    ExpectUntouched(back.dm, 400);
}

}  // namespace
