// The forms table, measured against the fake print system's drivers and
// computed for defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "devcaps/forms.h"
#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "fake/fake_print_system.h"
#include "platform/kernel.h"
#include "trace_capture.h"

namespace {

using fake::FakePrintSystem;
using fake::Op;
using testsupport::TraceCapture;

struct HeapDeleter {
    void operator()(void* block) const { platform::HeapFreeBlock(block); }
};

using PairList = std::vector<std::pair<LONG, LONG>>;

// A paper block laid out as the paper query lays it out; each list keeps its
// own count. A name of 64 units fills its slot without a terminator.
std::vector<BYTE> BuildPapers(const std::vector<WORD>& ids, const std::vector<std::wstring>& names,
                              const std::vector<PaperSize>& sizes) {
    const DWORD nameBytes = static_cast<DWORD>(names.size() * kPaperNameChars * sizeof(WCHAR));
    const DWORD idBytes = static_cast<DWORD>(ids.size() * sizeof(WORD));
    const DWORD sizeBytes = static_cast<DWORD>(sizes.size() * sizeof(PaperSize));
    std::vector<BYTE> block(sizeof(PaperBuffer) + nameBytes + idBytes + sizeBytes, 0);
    PaperBuffer header = {};
    header.dwSize = static_cast<DWORD>(block.size());
    header.dwNumPaperNames = static_cast<DWORD>(names.size());
    header.dwSizeOfPaperNames = nameBytes;
    header.dwOffsetToPaperNames = sizeof(PaperBuffer);
    header.dwNumPapers = static_cast<DWORD>(ids.size());
    header.dwSizeOfPapers = idBytes;
    header.dwOffsetToPapers = sizeof(PaperBuffer) + nameBytes;
    header.dwNumPaperSize = static_cast<DWORD>(sizes.size());
    header.dwSizeOfPaperSize = sizeBytes;
    header.dwOffsetToPaperSize = header.dwOffsetToPapers + idBytes;
    std::memcpy(block.data(), &header, sizeof(header));
    for (size_t i = 0; i < names.size(); ++i)
        std::memcpy(block.data() + sizeof(PaperBuffer) + i * kPaperNameChars * sizeof(WCHAR), names[i].data(),
                    std::min(names[i].size(), kPaperNameChars) * sizeof(WCHAR));
    if (idBytes) std::memcpy(block.data() + header.dwOffsetToPapers, ids.data(), idBytes);
    if (sizeBytes) std::memcpy(block.data() + header.dwOffsetToPaperSize, sizes.data(), sizeBytes);
    return block;
}

const PaperSize kLetter = {2159, 2794};
const PaperSize kA4 = {2100, 2970};
const PaperSize kLegal = {2159, 3556};
const PaperSize kSquare = {2000, 2000};

// A driver that knows every paper of these tests by its id (the fake
// measures a validated DEVMODE by its paper id).
fake::FakePrinter& AddPrinter(FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"P");  // margins of 4.2 mm all round
    printer.SetPapers({{DMPAPER_LETTER, L"Letter", kLetter.width, kLetter.length},
                       {DMPAPER_A4, L"A4", kA4.width, kA4.length},
                       {DMPAPER_LEGAL, L"Legal", kLegal.width, kLegal.length},
                       {DMPAPER_USER, L"Square", kSquare.width, kSquare.length}});
    return printer;
}

std::vector<BYTE> LetterA4Legal() {
    return BuildPapers({DMPAPER_LETTER, DMPAPER_A4, DMPAPER_LEGAL}, {L"Letter", L"A4", L"Legal"}, {kLetter, kA4, kLegal});
}

std::vector<ResolutionPair> Pairs(const PairList& list) {
    std::vector<ResolutionPair> out;
    for (const auto& [x, y] : list) out.push_back({x, y});
    return out;
}

struct Table {
    std::unique_ptr<FormEntry, HeapDeleter> forms;
    DWORD num = 0xDEAD;
    DWORD size = 0xDEAD;
    const FormEntry& operator[](size_t i) const { return forms.get()[i]; }
};

struct Request {
    LPCWSTR device = L"P";
    const std::vector<BYTE>* papers = nullptr;
    PairList resolutions = {{300, 300}, {600, 600}};
    bool indexedOnly = false;
    PairList indexed = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}};
    bool ignoreLogPixels = false;
};

Table Forms(const Request& request) {
    const std::vector<ResolutionPair> resolutions = Pairs(request.resolutions);
    const std::vector<ResolutionPair> indexed = Pairs(request.indexed);
    Table table;
    table.forms.reset(vlibPRINT_QueryDevCap_Forms(
        request.device, L"FILE:", L"winprint", nullptr,
        request.papers ? reinterpret_cast<const PaperBuffer*>(request.papers->data()) : nullptr,
        resolutions.empty() ? nullptr : resolutions.data(), static_cast<DWORD>(resolutions.size()),
        request.indexedOnly ? 1 : 0, indexed.empty() ? nullptr : indexed.data(), static_cast<DWORD>(indexed.size()),
        &table.num, &table.size, request.ignoreLogPixels ? 1 : 0));
    return table;
}

// Log lines with every time stamp taken out, also those written in the
// middle of a row.
std::vector<std::string> Unstamped(const TraceCapture& trace) {
    static const std::regex stamp(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\] )");
    std::vector<std::string> lines;
    for (const std::string& line : trace.Lines()) lines.push_back(std::regex_replace(line, stamp, ""));
    return lines;
}

size_t Containing(const TraceCapture& trace, const std::string& text) {
    const std::vector<std::string> lines = Unstamped(trace);
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

std::vector<fake::Call> CallsOf(const FakePrintSystem& fake, Op op) {
    std::vector<fake::Call> picked;
    for (const fake::Call& call : fake.calls())
        if (call.op == op) picked.push_back(call);
    return picked;
}

struct Page {
    LONG hsize, vsize, hres, vres, physW, physH, offX, offY;
};
Page PageOf(const FormEntry& f) { return {f.hsize, f.vsize, f.hres, f.vres, f.physW, f.physH, f.offX, f.offY}; }
bool operator==(const Page& a, const Page& b) { return std::memcmp(&a, &b, sizeof(Page)) == 0; }
constexpr Page kLetterAt600 = {207, 271, 4887, 6391, 5100, 6600, 110, 99};

// ------------------------------------------------------------ defaults

TEST(FormsDefaults, ComputeEveryDefaultPaperAtEveryDefaultResolution) {
    FakePrintSystem fake;
    TraceCapture trace;
    std::unique_ptr<PaperBuffer, HeapDeleter> papers(vlibPRINT_QueryDevCap_Papers(nullptr, nullptr, nullptr));
    ASSERT_TRUE(papers);
    DWORD numRes = 0, sizeRes = 0;
    std::unique_ptr<ResolutionPair, HeapDeleter> res(
        vlibPRINT_QueryDevCap_Resolutions(nullptr, nullptr, nullptr, nullptr, &numRes, &sizeRes));
    ASSERT_TRUE(res);
    DWORD num = 0, size = 0;
    std::unique_ptr<FormEntry, HeapDeleter> forms(vlibPRINT_QueryDevCap_Forms(
        nullptr, nullptr, nullptr, nullptr, papers.get(), res.get(), numRes, 0, res.get(), numRes, &num, &size, 0));
    ASSERT_TRUE(forms);
    ASSERT_EQ(num, 472u);
    EXPECT_EQ(size, 472u * 84);
    EXPECT_TRUE(fake.calls().empty());

    const FormEntry letter150 = {0, 0, 1, 2159, 2794, 150, 150, 0, 215, 279, 1275, 1650,
                                 150, 150, 150, 150, 212, 1275, 1650, 0, 0};
    EXPECT_EQ(std::memcmp(&forms.get()[0], &letter150, sizeof(FormEntry)), 0);
    const FormEntry letter300 = {118, 0, 1, 2159, 2794, 300, 300, 0, 215, 279, 2550, 3300,
                                 300, 300, 300, 300, 424, 2550, 3300, 0, 0};
    EXPECT_EQ(std::memcmp(&forms.get()[118], &letter300, sizeof(FormEntry)), 0);
    // A4 (row 9) at 1200: 2100 / 254 x 1200 = 9921.2, 2970 / 254 x 1200 = 14031.5.
    const FormEntry& a4 = forms.get()[3 * 118 + 8];
    EXPECT_EQ(a4.formNo, 362);
    EXPECT_EQ(a4.paprI, 9);
    EXPECT_EQ(a4.hsize, 210);
    EXPECT_EQ(a4.vsize, 297);
    EXPECT_EQ(a4.physW, 9921);
    EXPECT_EQ(a4.physH, 14031);
    EXPECT_EQ(a4.aspXY, 1697);
    for (DWORD f = 0; f < num; ++f) {
        EXPECT_EQ(forms.get()[f].formNo, static_cast<LONG>(f));
        EXPECT_EQ(forms.get()[f].resNo, 0);
    }
    EXPECT_EQ(trace.LinesStartingWith("using defaults").size(), 3u);  // papers, resolutions, forms
    EXPECT_EQ(trace.LinesStartingWith("\t\tRes  3: (1200,1200) ").size(), 1u);
}

TEST(FormsDefaults, TakeTheIndexedListAndTheLow16BitsOfOddValues) {
    FakePrintSystem fake;
    TraceCapture trace;
    // An id above 32767, a width beyond 16 bits and a negative length.
    const std::vector<BYTE> papers = BuildPapers({0xFFFF}, {L"Odd"}, {{40000, -2794}});
    Request request;
    request.device = nullptr;
    request.papers = &papers;
    request.indexedOnly = true;
    request.indexed = {{0x10000 + 100, 200}};
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 1u);
    const FormEntry& f = table[0];
    EXPECT_EQ(f.paprI, 65535);   // the id stays unsigned
    EXPECT_EQ(f.paprW, -25536);  // 40000 in 16 bits
    EXPECT_EQ(f.paprL, -2794);
    EXPECT_EQ(f.resX, 100);
    EXPECT_EQ(f.resY, 200);
    EXPECT_EQ(f.logX, 100);
    EXPECT_EQ(f.aspXY, 223);     // sqrt(100^2 + 200^2) = 223.6
    EXPECT_EQ(f.hsize, -2553);   // toward zero
    EXPECT_EQ(f.vsize, -279);
    EXPECT_EQ(f.physW, -10053);  // -25536 / 254 x 100 = -10053.5
    EXPECT_EQ(f.physH, -2200);
    EXPECT_EQ(f.hres, f.physW);
    EXPECT_EQ(f.resNo, 0);
    EXPECT_EQ(Unstamped(trace), (std::vector<std::string>{
                                    "vlibPRINT_QueryDevCap_Forms => ",
                                    "vlibPRINT_QueryDevCap_Forms => size 84",
                                    "vlibPRINT_QueryDevCap_Forms => num: 1 (size: 84)",
                                    "using defaults",
                                    "\t\tRes  0: ( 100, 200) ",
                                    "[paprW,paprL] [ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
                                    "[-25536,-2794] [  100,  200][-2553, -279,-10053,-2200,-10053,-2200,    0,    0] ",
                                    "vlibPRINT_QueryDevCap_Forms => exiting",
                                }));
}

// ------------------------------------------------------------ measured

TEST(FormsMeasured, WritesTheExactRowsOfEachResolution) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {kLetter, kA4});
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};
    const Table table = Forms(request);
    ASSERT_TRUE(table.forms);
    EXPECT_EQ(table.num, 2u);
    EXPECT_EQ(table.size, 168u);
    EXPECT_EQ(Unstamped(trace),
              (std::vector<std::string>{
                  "vlibPRINT_QueryDevCap_Forms => ",
                  "vlibPRINT_QueryDevCap_Forms => size 168",
                  "vlibPRINT_QueryDevCap_Forms => num: 2 (size: 168)",
                  "\t\tRes  0: ( 300, 300) ",
                  "[paprW,paprL] [ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
                  "[ 2159, 2794] [  300,  300][  207,  271, 2452, 3202, 2550, 3300,   49,   49] ",
                  // The page turned with the orientation: "!" after the first row.
                  "![ 2100, 2970] [  300,  300][  201,  288, 2382, 3409, 2480, 3507,   49,   49] ",
                  "vlibPRINT_QueryDevCap_Forms => exiting",
              }));
    const FormEntry letter = {0, 1, 1, 2159, 2794, 300, 300, 0, 207, 271, 2452, 3202,
                              300, 300, 300, 300, 424, 2550, 3300, 49, 49};
    EXPECT_EQ(std::memcmp(&table[0], &letter, sizeof(FormEntry)), 0);
}

TEST(FormsMeasured, NumbersFormsResolutionMajorWithTheDriversPages) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 6u);
    EXPECT_EQ(table.size, 6u * 84);
    const LONG ids[3] = {DMPAPER_LETTER, DMPAPER_A4, DMPAPER_LEGAL};
    const PaperSize sizes[3] = {kLetter, kA4, kLegal};
    for (LONG f = 0; f < 6; ++f) {
        const FormEntry& form = table[f];
        const LONG r = f / 3, j = f % 3, dpi = r ? 600 : 300;
        EXPECT_EQ(form.formNo, f);
        EXPECT_EQ(form.paprI, ids[j]);
        EXPECT_EQ(form.paprW, sizes[j].width);
        EXPECT_EQ(form.paprL, sizes[j].length);
        EXPECT_EQ(form.resX, dpi);
        EXPECT_EQ(form.resY, dpi);
        EXPECT_EQ(form.resNo, r);
        EXPECT_EQ(form.logX, dpi);
        EXPECT_EQ(form.aspXY, r ? 848 : 424);
        EXPECT_EQ(form.orientFlag, 1);
    }
    // Pages the driver measured: Legal at 600 dpi, A4 at 600 dpi.
    EXPECT_EQ(table[5].physW, 5100);
    EXPECT_EQ(table[5].physH, 8400);
    EXPECT_EQ(table[4].physW, 4960);
    EXPECT_EQ(table[4].physH, 7015);

    // Each form's device context: the print processor as driver name and the
    // DEVMODE the driver validated for that paper and resolution.
    std::vector<fake::Call> dcs;
    for (const fake::Call& call : CallsOf(fake, Op::CreateDC))
        if (call.orientation == DMORIENT_PORTRAIT) dcs.push_back(call);
    ASSERT_EQ(dcs.size(), 6u);
    for (size_t f = 0; f < 6; ++f) {
        EXPECT_EQ(dcs[f].text, L"winprint");
        EXPECT_EQ(dcs[f].paperSize, ids[f % 3]);
        EXPECT_EQ(dcs[f].quality, f < 3 ? 300 : 600);
        EXPECT_EQ(dcs[f].paperWidth, sizes[f % 3].width);
    }
    EXPECT_EQ(dcs[1].formName, L"A4");
}

TEST(FormsMeasured, IndexedOnlyPrintersWalkTheFourLevels) {
    FakePrintSystem fake;
    AddPrinter(fake);  // levels -1 to -4 print at 150, 300, 600 and 1200 dpi
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};  // not used: the printer is indexed only
    request.indexedOnly = true;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 12u);
    for (LONG f = 0; f < 12; ++f) {
        EXPECT_EQ(table[f].formNo, f);
        EXPECT_EQ(table[f].resX, -1 - f / 3);
        EXPECT_EQ(table[f].resY, 0);
        EXPECT_EQ(table[f].resNo, -1 - f / 3);
    }
    EXPECT_EQ(table[0].logX, 150);
    EXPECT_EQ(table[0].physW, 1275);
    EXPECT_EQ(table[9].logX, 1200);
    EXPECT_EQ(table[9].logY, 1200);
    EXPECT_EQ(table[9].physW, 10200);
    // The working DEVMODE asks for the level alone; the merge leaves the
    // y-resolution at 0.
    for (const fake::Call& call : CallsOf(fake, Op::DocumentProperties)) {
        if (call.arg != (DM_IN_BUFFER | DM_OUT_BUFFER)) continue;
        EXPECT_LT(call.quality, 0);
        EXPECT_EQ(call.yResolution, 0);
    }
    EXPECT_EQ(trace.LinesStartingWith("\t\tRes  3: (  -4,   0) ").size(), 1u);
}

TEST(FormsMeasured, ASquarePageKeepsTheOrientationTestPending) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers =
        BuildPapers({DMPAPER_USER, DMPAPER_LETTER, DMPAPER_A4}, {L"Square", L"Letter", L"A4"}, {kSquare, kLetter, kA4});
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 3u);
    EXPECT_EQ(table[0].physW, table[0].physH);
    EXPECT_EQ(table[0].orientFlag, 1);
    EXPECT_EQ(table[1].orientFlag, 1);
    EXPECT_EQ(table[2].orientFlag, 1);
    // Form 0, form 1, then the test on form 1's page, then form 2.
    const std::vector<fake::Call> dcs = CallsOf(fake, Op::CreateDC);
    ASSERT_EQ(dcs.size(), 4u);
    EXPECT_EQ(dcs[2].orientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(dcs[2].paperSize, DMPAPER_LETTER);
    EXPECT_EQ(dcs[3].orientation, DMORIENT_PORTRAIT);

    // A square sheet with unequal margins is not the same page turned over.
    fake.ClearCalls();
    fake.Find(L"P")->marginTop = 84;
    const std::vector<BYTE> squares = BuildPapers({DMPAPER_USER}, {L"Square"}, {kSquare});
    request.papers = &squares;
    EXPECT_EQ(Forms(request)[0].orientFlag, 1);
    EXPECT_EQ(CallsOf(fake, Op::CreateDC).size(), 2u);
}

TEST(FormsMeasured, ADriverIgnoringOrientationClearsTheFlagFromTheFirstPageThatShowsIt) {
    FakePrintSystem fake;
    AddPrinter(fake).ignoresOrientation = true;
    TraceCapture trace;
    const std::vector<BYTE> papers =
        BuildPapers({DMPAPER_USER, DMPAPER_LETTER, DMPAPER_A4}, {L"Square", L"Letter", L"A4"}, {kSquare, kLetter, kA4});
    Request request;
    request.papers = &papers;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 6u);
    const LONG expected[6] = {1, 0, 0, 0, 0, 0};  // the square at 600 dpi comes after the answer
    for (int f = 0; f < 6; ++f) EXPECT_EQ(table[f].orientFlag, expected[f]) << "form " << f;
    EXPECT_EQ(fake.Count(Op::CreateDC), 7);  // one test only
    // No "!" row: the page did not turn.
    for (const std::string& line : trace.Lines()) EXPECT_NE(line.front(), '!');
}

TEST(FormsMeasured, IgnoreLogPixelsTakesTheListsWhateverTheDriverReports) {
    FakePrintSystem fake;
    // A DEVMODE older than the merge's first gate: the driver stays at its
    // default paper (Letter) and its default 300 dpi for every form.
    fake::AsDevmode(AddPrinter(fake).devmode)->dmSpecVersion = 0x030A;
    TraceCapture trace;
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {kLetter, kA4});
    Request request;
    request.papers = &papers;

    const Table measured = Forms(request);
    ASSERT_EQ(measured.num, 4u);
    EXPECT_EQ(measured[3].logX, 300);
    EXPECT_EQ(fake.Count(Op::GetDeviceCaps), 4 * 8 + 2 * 5 + 4);

    fake.ClearCalls();
    const int before = fake.Count(Op::GetDeviceCaps);
    TraceCapture ignoring;
    request.ignoreLogPixels = true;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 4u);
    const LONG logs[4] = {300, 300, 600, 600};
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(table[f].logX, logs[f]) << "form " << f;
        EXPECT_EQ(table[f].logY, logs[f]) << "form " << f;
        EXPECT_EQ(table[f].physW, 2550);  // still the driver's Letter page at 300 dpi
        EXPECT_EQ(table[f].aspX, 300);
    }
    EXPECT_EQ(fake.Count(Op::GetDeviceCaps) - before, 4 * 8 + 2 * 3 + 4);
    for (const fake::Call& call : CallsOf(fake, Op::GetDeviceCaps)) {
        EXPECT_NE(call.arg, LOGPIXELSX);
        EXPECT_NE(call.arg, LOGPIXELSY);
    }
    EXPECT_EQ(Containing(ignoring, "vlibPRINT_QueryDevCap_Forms => IgnoreLogPixels set using resolution for setting "
                                   "logpixels"),
              2u);
    EXPECT_EQ(ignoring.LinesStartingWith("vlibPRINT_QueryDevCap_Forms => Resolution: "),
              (std::vector<std::string>{"vlibPRINT_QueryDevCap_Forms => Resolution: LogX = 300, LogY = 300",
                                        "vlibPRINT_QueryDevCap_Forms => Resolution: LogX = 600, LogY = 600"}));

    // Indexed levels take the indexed list, full 32-bit values.
    TraceCapture indexedTrace;
    request.indexedOnly = true;
    request.indexed = {{75, 75}, {150, 150}, {360, 360}, {100000, 50000}};
    const Table indexed = Forms(request);
    ASSERT_EQ(indexed.num, 8u);
    EXPECT_EQ(indexed[7].logX, 100000);
    EXPECT_EQ(indexed[7].logY, 50000);
    EXPECT_EQ(indexed[2].logX, 150);
    EXPECT_EQ(indexedTrace.LinesStartingWith("vlibPRINT_QueryDevCap_Forms => Indexed Resolution: ").back(),
              "vlibPRINT_QueryDevCap_Forms => Indexed Resolution: LogX = 100000, LogY = 50000");
}

TEST(FormsMeasured, AFaultKeepsTheResolutionsValuesAndTakesTheFixedPage) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}, {360, 360}};
    // GetDeviceCaps calls: form 0 13 and its orientation test 4, forms 1 and 2
    // 8 each, form 3 13, form 4 8; form 5's second read (VERTSIZE) faults.
    fake.FaultOn(Op::GetDeviceCaps, 17 + 8 + 8 + 13 + 8 + 2);
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 6u);
    const FormEntry& f5 = table[5];
    EXPECT_EQ(f5.formNo, 5);
    EXPECT_EQ(f5.paprI, DMPAPER_LEGAL);
    EXPECT_EQ(f5.resX, 360);
    EXPECT_EQ(f5.resNo, 1);
    EXPECT_EQ(f5.logX, 360);  // from form 3, the first paper at 360 dpi
    EXPECT_EQ(f5.logY, 360);
    EXPECT_EQ(f5.aspX, 360);
    EXPECT_EQ(f5.aspXY, 509);
    EXPECT_EQ(f5.orientFlag, 1);
    EXPECT_TRUE(PageOf(f5) == kLetterAt600);
    EXPECT_EQ(table[3].physW, 3060);  // Letter at 360 dpi, measured
    EXPECT_EQ(table[4].logX, 360);
    EXPECT_EQ(fake.OpenDCs(), 0);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    const std::vector<std::string> lines = Unstamped(trace);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines.back(), "[ 2159, 3556] EXCEPTION: vlibPRINT_QueryDevCap_Forms => exiting");
}

TEST(FormsMeasured, AFaultOnTheFirstPaperSetsTheResolutionsValuesTo600) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}, {360, 360}};
    fake.FaultOn(Op::CreateDC, 5);  // form 0, its test, forms 1 and 2, then form 3
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 6u);
    EXPECT_TRUE(PageOf(table[3]) == kLetterAt600);
    for (int f = 3; f < 6; ++f) {
        EXPECT_EQ(table[f].logX, 600) << "form " << f;
        EXPECT_EQ(table[f].aspY, 600) << "form " << f;
        EXPECT_EQ(table[f].aspXY, 848) << "form " << f;
    }
    EXPECT_EQ(table[4].physW, 2976);  // A4 at 360 dpi, measured
    EXPECT_EQ(table[2].logX, 300);
}

TEST(FormsMeasured, AFaultInTheOrientationTestLeavesItPending) {
    FakePrintSystem fake;
    AddPrinter(fake).ignoresOrientation = true;
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};
    fake.FaultOn(Op::CreateDC, 2);  // the test on form 0's page
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 3u);
    EXPECT_EQ(table[0].orientFlag, 1);
    EXPECT_TRUE(PageOf(table[0]) == kLetterAt600);
    EXPECT_EQ(table[1].orientFlag, 0);  // asked again, and answered
    EXPECT_EQ(table[2].orientFlag, 0);
    EXPECT_EQ(fake.Count(Op::CreateDC), 3 + 2);
    EXPECT_EQ(fake.OpenDCs(), 0);
}

TEST(FormsMeasured, NoPapersOrNoResolutionsGiveAnEmptyTable) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {});
    Request request;
    request.papers = &papers;
    Table table = Forms(request);
    EXPECT_TRUE(table.forms);
    EXPECT_EQ(table.num, 0u);
    EXPECT_EQ(table.size, 0u);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_Forms => num: "),
              (std::vector<std::string>{"vlibPRINT_QueryDevCap_Forms => num: 0 (size: 0)"}));

    request.papers = nullptr;
    table = Forms(request);
    EXPECT_TRUE(table.forms);
    EXPECT_EQ(table.num, 0u);

    const std::vector<BYTE> letter = BuildPapers({DMPAPER_LETTER}, {L"Letter"}, {kLetter});
    request.papers = &letter;
    request.resolutions = {};
    table = Forms(request);
    EXPECT_TRUE(table.forms);
    EXPECT_EQ(table.num, 0u);
    EXPECT_EQ(table.size, 0u);
    EXPECT_TRUE(fake.calls().empty());
}

TEST(FormsMeasured, APrinterThatCannotBeOpenedTakesTheFallbackPage) {
    FakePrintSystem fake;
    AddPrinter(fake).openable = false;
    TraceCapture trace;
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {kLetter, kA4});
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 2u);
    for (int f = 0; f < 2; ++f) {
        EXPECT_TRUE(PageOf(table[f]) == kLetterAt600) << "form " << f;
        EXPECT_EQ(table[f].orientFlag, 1);
        EXPECT_EQ(table[f].logX, 600);
        EXPECT_EQ(table[f].aspXY, 848);
        EXPECT_EQ(table[f].resX, 300);
    }
    EXPECT_EQ(table[1].paprI, DMPAPER_A4);
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 0);
    for (const fake::Call& call : CallsOf(fake, Op::CreateDC)) EXPECT_EQ(call.fields, 0u);
    EXPECT_EQ(fake.Count(Op::CreateDC), 2);
    // Each form is measured with the printer's defaults (Letter at 300 dpi),
    // then the pending orientation test has no DEVMODE to turn over.
    EXPECT_EQ(Unstamped(trace),
              (std::vector<std::string>{
                  "vlibPRINT_QueryDevCap_Forms => ",
                  "vlibPRINT_QueryDevCap_Forms => size 168",
                  "vlibPRINT_QueryDevCap_Forms => num: 2 (size: 168)",
                  "\t\tRes  0: ( 300, 300) ",
                  "[paprW,paprL] [ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
                  "[ 2159, 2794] vlibPRINT_QueryDevCap_Forms => couldn't get a handle to the printer",
                  "[  300,  300][  207,  271, 2452, 3202, 2550, 3300,   49,   49] ",
                  "EXCEPTION: [ 2100, 2970] vlibPRINT_QueryDevCap_Forms => couldn't get a handle to the printer",
                  "[  600,  600][  207,  271, 2452, 3202, 2550, 3300,   49,   49] ",
                  "EXCEPTION: vlibPRINT_QueryDevCap_Forms => exiting",
              }));
}

TEST(FormsMeasured, ADriverWithoutADevmodeTakesTheFallbackWithoutADeviceContext) {
    FakePrintSystem fake;
    AddPrinter(fake).devmode.clear();
    TraceCapture trace;
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_LETTER}, {L"Letter"}, {kLetter});
    Request request;
    request.papers = &papers;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 2u);
    EXPECT_TRUE(PageOf(table[0]) == kLetterAt600);
    EXPECT_TRUE(PageOf(table[1]) == kLetterAt600);
    EXPECT_EQ(fake.Count(Op::CreateDC), 0);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_EQ(Containing(trace, "vlibPRINT_QueryDevCap_Forms => couldn't allocate memory for pDefDM"), 2u);
    EXPECT_EQ(Containing(trace, "EXCEPTION: "), 2u);
}

TEST(FormsMeasured, ShorterIdAndNameListsGiveNoIdAndNoName) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::wstring longName = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789AB";  // 64 units
    ASSERT_EQ(longName.size(), kPaperNameChars);
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_A4, DMPAPER_LEGAL}, {longName}, {kA4, kLegal, kSquare});
    Request request;
    request.papers = &papers;
    request.resolutions = {{300, 300}};
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 3u);
    EXPECT_EQ(table[1].paprI, DMPAPER_LEGAL);
    EXPECT_EQ(table[2].paprI, 0);
    EXPECT_EQ(table[2].paprW, 2000);
    std::vector<fake::Call> validated;
    for (const fake::Call& call : CallsOf(fake, Op::DocumentProperties))
        if (call.arg == (DM_IN_BUFFER | DM_OUT_BUFFER)) validated.push_back(call);
    ASSERT_EQ(validated.size(), 3u);
    EXPECT_EQ(validated[0].formName, longName.substr(0, 31));
    // An empty name leaves the driver's own form name in place.
    EXPECT_EQ(validated[1].formName, L"Letter");
    EXPECT_EQ(validated[2].paperSize, 0);
    EXPECT_NE(validated[2].fields & DM_FORMNAME, 0u);
}

TEST(FormsPerformance, OneDeviceContextPerFormAndOnePerOrientationTest) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const std::vector<BYTE> papers = LetterA4Legal();
    Request request;
    request.papers = &papers;
    const Table table = Forms(request);
    ASSERT_EQ(table.num, 6u);
    // Per form: open, three DocumentProperties, close, a device context with
    // eight page reads; five more reads on the first paper of a resolution;
    // one orientation test of a device context and four reads.
    EXPECT_EQ(fake.Count(Op::OpenPrinter), 6);
    EXPECT_EQ(fake.Count(Op::DocumentProperties), 18);
    EXPECT_EQ(fake.Count(Op::ClosePrinter), 6);
    EXPECT_EQ(fake.Count(Op::CreateDC), 6 + 1);
    EXPECT_EQ(fake.Count(Op::DeleteDC), 6 + 1);
    EXPECT_EQ(fake.Count(Op::GetDeviceCaps), 6 * 8 + 2 * 5 + 4);
    EXPECT_EQ(fake.calls().size(), 6u * 15 + 2 * 5 + 6);
    EXPECT_EQ(fake.OpenDCs(), 0);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// ------------------------------------------------------------ orientation test

TEST(OrientationChangesPage, TurnsTheDevmodeInPlaceAndComparesThePage) {
    FakePrintSystem fake;
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    std::vector<BYTE> bytes = fake::MakeDevmode(L"P");
    DEVMODEW* dm = fake::AsDevmode(bytes);
    dm->dmFields &= ~DM_ORIENTATION;
    // Letter at 300 dpi, portrait: 2550 x 3300, offsets 49.
    EXPECT_EQ(OrientationChangesPage(L"P", L"winprint", dm, 2550, 3300, 49, 49), 1);
    EXPECT_EQ(dm->dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_NE(dm->dmFields & DM_ORIENTATION, 0u);
    // Turned back, the same portrait page.
    EXPECT_EQ(OrientationChangesPage(L"P", L"winprint", dm, 2550, 3300, 49, 49), 0);
    EXPECT_EQ(dm->dmOrientation, DMORIENT_PORTRAIT);
    // Any other orientation value becomes portrait.
    dm->dmOrientation = 0;
    EXPECT_EQ(OrientationChangesPage(L"P", L"winprint", dm, 2550, 3300, 49, 49), 0);
    EXPECT_EQ(dm->dmOrientation, DMORIENT_PORTRAIT);
    // Only the offsets differ: still a change.
    printer.marginTop = 84;
    EXPECT_EQ(OrientationChangesPage(L"P", L"winprint", dm, 3300, 2550, 49, 99), 1);
    const std::vector<fake::Call> dcs = CallsOf(fake, Op::CreateDC);
    ASSERT_EQ(dcs.size(), 4u);
    EXPECT_EQ(dcs[0].text, L"winprint");
    EXPECT_EQ(fake.OpenDCs(), 0);
}

}  // namespace
