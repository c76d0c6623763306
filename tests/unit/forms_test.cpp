// The forms table, measured against the fake print system's drivers and
// computed for defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

// A paper block laid out as the paper query lays it out; each list keeps its own count.
std::vector<BYTE> BuildPapers(const std::vector<WORD>& ids, const std::vector<std::wstring>& names,
                              const std::vector<PaperSize>& sizes) {
    const DWORD nameBytes = static_cast<DWORD>(names.size() * kPaperNameBytes);
    const DWORD idBytes = static_cast<DWORD>(ids.size() * sizeof(WORD));
    const DWORD sizeBytes = static_cast<DWORD>(sizes.size() * sizeof(PaperSize));
    const DWORD head = sizeof(PaperBuffer);
    std::vector<BYTE> block(head + nameBytes + idBytes + sizeBytes, 0);
    auto* h = reinterpret_cast<PaperBuffer*>(block.data());
    *h = {static_cast<DWORD>(block.size()), static_cast<DWORD>(ids.size()), idBytes, head + nameBytes,
          static_cast<DWORD>(names.size()), nameBytes, head, static_cast<DWORD>(sizes.size()), sizeBytes,
          head + nameBytes + idBytes};
    for (size_t i = 0; i < names.size(); ++i)
        std::memcpy(PaperNames(h) + i * kPaperNameChars, names[i].data(),
                    std::min(names[i].size(), kPaperNameChars) * sizeof(WCHAR));
    if (idBytes) std::memcpy(PaperIds(h), ids.data(), idBytes);
    if (sizeBytes) std::memcpy(PaperSizeBytes(h), sizes.data(), sizeBytes);
    return block;
}

const PaperSize kLetter = {2159, 2794}, kA4 = {2100, 2970}, kLegal = {2159, 3556}, kSquare = {2000, 2000};
const std::vector<BYTE> kLetterA4 = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {kLetter, kA4});
const std::vector<BYTE> kLetterA4Legal =
    BuildPapers({DMPAPER_LETTER, DMPAPER_A4, DMPAPER_LEGAL}, {L"Letter", L"A4", L"Legal"}, {kLetter, kA4, kLegal});
const LONG kIds[3] = {DMPAPER_LETTER, DMPAPER_A4, DMPAPER_LEGAL};  // of kLetterA4Legal
const std::vector<BYTE> kSquareFirst =
    BuildPapers({DMPAPER_USER, DMPAPER_LETTER, DMPAPER_A4}, {L"Square", L"Letter", L"A4"}, {kSquare, kLetter, kA4});

// A driver that knows every paper of these tests (the fake measures a
// validated DEVMODE by its paper id); margins of 4.2 mm all round.
fake::FakePrinter& AddPrinter(FakePrintSystem& fake) {
    fake::FakePrinter& printer = fake.AddPrinter(L"P");
    printer.SetPapers({{DMPAPER_LETTER, L"Letter", kLetter.width, kLetter.length},
                       {DMPAPER_A4, L"A4", kA4.width, kA4.length},
                       {DMPAPER_LEGAL, L"Legal", kLegal.width, kLegal.length},
                       {DMPAPER_USER, L"Square", kSquare.width, kSquare.length}});
    return printer;
}

struct Table {
    std::unique_ptr<FormEntry, HeapDeleter> forms;
    DWORD num = 0xDEAD, size = 0xDEAD;
    const FormEntry& operator[](size_t i) const { return forms.get()[i]; }
};

Table Forms(const std::vector<BYTE>* papers, std::vector<ResolutionPair> resolutions = {{300, 300}, {600, 600}},
            bool indexedOnly = false, bool ignoreLogPixels = false,
            std::vector<ResolutionPair> indexed = {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}) {
    Table t;
    t.forms.reset(vlibPRINT_QueryDevCap_Forms(
        L"P", L"FILE:", L"winprint", nullptr, papers ? reinterpret_cast<const PaperBuffer*>(papers->data()) : nullptr,
        resolutions.empty() ? nullptr : resolutions.data(), static_cast<DWORD>(resolutions.size()), indexedOnly,
        indexed.data(), static_cast<DWORD>(indexed.size()), &t.num, &t.size, ignoreLogPixels));
    return t;
}

// Lines holding the text (time stamps written in the middle of a row stay in).
size_t Containing(const TraceCapture& trace, const std::string& text) {
    const std::vector<std::string> lines = trace.Lines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                             [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

std::vector<fake::Call> CallsOf(const FakePrintSystem& fake, Op op) {
    std::vector<fake::Call> picked;
    for (const fake::Call& call : fake.calls())
        if (call.op == op) picked.push_back(call);
    return picked;
}

// The page of a form whose measurement faulted: a Letter sheet at 600 dpi.
void ExpectLetterAt600(const FormEntry& f) {
    const LONG page[9] = {f.hsize, f.vsize, f.hres, f.vres, f.physW, f.physH, f.offX, f.offY, f.orientFlag};
    EXPECT_EQ(std::vector<LONG>(page, page + 9), (std::vector<LONG>{207, 271, 4887, 6391, 5100, 6600, 110, 99, 1}));
}

TEST(FormsDefaults, ComputeEveryDefaultPaperAtEveryDefaultResolution) {
    FakePrintSystem fake;
    std::unique_ptr<PaperBuffer, HeapDeleter> papers(vlibPRINT_QueryDevCap_Papers(nullptr, nullptr, nullptr));
    DWORD numRes = 0, sizeRes = 0, num = 0, size = 0;
    std::unique_ptr<ResolutionPair, HeapDeleter> res(
        vlibPRINT_QueryDevCap_Resolutions(nullptr, nullptr, nullptr, nullptr, &numRes, &sizeRes));
    ASSERT_TRUE(papers && res);
    std::unique_ptr<FormEntry, HeapDeleter> forms(vlibPRINT_QueryDevCap_Forms(
        nullptr, nullptr, nullptr, nullptr, papers.get(), res.get(), numRes, 0, res.get(), numRes, &num, &size, 0));
    ASSERT_TRUE(forms);
    ASSERT_EQ(num, 472u);
    EXPECT_EQ(size, 472u * 84);
    EXPECT_TRUE(fake.calls().empty());
    const FormEntry letter150 = {0, 0, 1, 2159, 2794, 150, 150, 0, 215, 279, 1275, 1650,
                                 150, 150, 150, 150, 212, 1275, 1650, 0, 0};
    const FormEntry letter300 = {118, 0, 1, 2159, 2794, 300, 300, 0, 215, 279, 2550, 3300,
                                 300, 300, 300, 300, 424, 2550, 3300, 0, 0};
    EXPECT_EQ(std::memcmp(&forms.get()[0], &letter150, sizeof(FormEntry)), 0);
    EXPECT_EQ(std::memcmp(&forms.get()[118], &letter300, sizeof(FormEntry)), 0);
    for (DWORD f = 0; f < num; ++f) EXPECT_EQ(forms.get()[f].formNo, static_cast<LONG>(f));
}

TEST(FormsMeasured, WritesTheRowsAndRecordsOfEachForm) {
    FakePrintSystem fake;
    AddPrinter(fake);
    TraceCapture trace;
    const Table t = Forms(&kLetterA4, {{300, 300}});
    ASSERT_EQ(t.num, 2u);
    EXPECT_EQ(t.size, 168u);
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "vlibPRINT_QueryDevCap_Forms => ", "vlibPRINT_QueryDevCap_Forms => size 168",
                  "vlibPRINT_QueryDevCap_Forms => num: 2 (size: 168)", "\t\tRes  0: ( 300, 300) ",
                  "[paprW,paprL] [ logX, logY][hsize,vsize, hres, vres,physW,physH, offX, offY] ",
                  "[ 2159, 2794] [  300,  300][  207,  271, 2452, 3202, 2550, 3300,   49,   49] ",
                  "![ 2100, 2970] [  300,  300][  201,  288, 2382, 3409, 2480, 3507,   49,   49] ",
                  "vlibPRINT_QueryDevCap_Forms => exiting"}));
    const FormEntry letter = {0, 1, 1, 2159, 2794, 300, 300, 0, 207, 271, 2452, 3202,
                              300, 300, 300, 300, 424, 2550, 3300, 49, 49};
    EXPECT_EQ(std::memcmp(&t[0], &letter, sizeof(FormEntry)), 0);
    // The print processor stands in as driver name of every device context.
    for (const fake::Call& dc : CallsOf(fake, Op::CreateDC)) EXPECT_EQ(dc.text, L"winprint");
}

TEST(FormsMeasured, IndexedOnlyPrintersWalkTheFourLevels) {
    FakePrintSystem fake;
    AddPrinter(fake);  // levels -1 to -4 print at 150, 300, 600 and 1200 dpi
    const Table t = Forms(&kLetterA4Legal, {{300, 300}}, true);
    ASSERT_EQ(t.num, 12u);
    for (LONG f = 0; f < 12; ++f) {
        EXPECT_EQ((std::vector<LONG>{t[f].formNo, t[f].paprI, t[f].resX, t[f].resY, t[f].resNo, t[f].logX}),
                  (std::vector<LONG>{f, kIds[f % 3], -1 - f / 3, 0, -1 - f / 3, 150 << (f / 3)}));
    }
}

TEST(FormsMeasured, TheOrientationTestWaitsForAPageThatIsNotSquare) {
    struct Case { bool ignoresOrientation; std::vector<LONG> flags; } cases[] = {
        {false, {1, 1, 1, 1, 1, 1}}, {true, {1, 0, 0, 0, 0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ignoresOrientation);
        FakePrintSystem fake;
        AddPrinter(fake).ignoresOrientation = c.ignoresOrientation;
        const Table t = Forms(&kSquareFirst);
        ASSERT_EQ(t.num, 6u);
        std::vector<LONG> flags;
        for (int f = 0; f < 6; ++f) flags.push_back(t[f].orientFlag);
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(t[0].physW, t[0].physH);
        // Square form 0, form 1, then the one test on form 1's page turned over.
        const std::vector<fake::Call> dcs = CallsOf(fake, Op::CreateDC);
        ASSERT_EQ(dcs.size(), 6u + 1);
        EXPECT_EQ(dcs[2].paperSize, DMPAPER_LETTER);
        EXPECT_EQ(dcs[2].orientation, DMORIENT_LANDSCAPE);
        EXPECT_EQ(dcs[3].orientation, DMORIENT_PORTRAIT);
    }
}

TEST(FormsMeasured, IgnoreLogPixelsTakesTheListsWhateverTheDriverReports) {
    FakePrintSystem fake;
    // A DEVMODE older than the merge's first gate: the driver stays at its
    // default Letter page at 300 dpi for every form.
    fake::AsDevmode(AddPrinter(fake).devmode)->dmSpecVersion = 0x030A;
    TraceCapture trace;
    const Table t = Forms(&kLetterA4, {{300, 300}, {600, 600}}, false, true);
    ASSERT_EQ(t.num, 4u);
    for (int f = 0; f < 4; ++f) {
        const LONG dpi = f < 2 ? 300 : 600;
        EXPECT_EQ((std::vector<LONG>{t[f].logX, t[f].logY, t[f].physW}), (std::vector<LONG>{dpi, dpi, 2550}));
    }
    for (const fake::Call& call : CallsOf(fake, Op::GetDeviceCaps)) EXPECT_NE(call.arg, LOGPIXELSX);
    EXPECT_EQ(Containing(trace, "Forms => IgnoreLogPixels set using resolution for setting logpixels"), 2u);
    EXPECT_EQ(trace.LinesStartingWith("vlibPRINT_QueryDevCap_Forms => Resolution: "),
              (std::vector<std::string>{"vlibPRINT_QueryDevCap_Forms => Resolution: LogX = 300, LogY = 300",
                                        "vlibPRINT_QueryDevCap_Forms => Resolution: LogX = 600, LogY = 600"}));
    // Indexed levels take the indexed list, full 32-bit values.
    const Table indexed = Forms(&kLetterA4, {}, true, true, {{75, 75}, {150, 150}, {360, 360}, {100000, 50000}});
    ASSERT_EQ(indexed.num, 8u);
    EXPECT_EQ(indexed[7].logX, 100000);
    EXPECT_EQ(indexed[7].logY, 50000);
    EXPECT_EQ(Containing(trace, "Indexed Resolution: LogX = 100000, LogY = 50000"), 1u);
}

TEST(FormsMeasured, AFaultTakesTheFixedPageAndKeepsOrSetsTheResolutionsValues) {
    // Letter, A4, Legal at 300 and 360 dpi. GetDeviceCaps reads: form 0 13 and
    // its orientation test 4, forms 1 and 2 8 each, form 3 13, form 4 8.
    struct Case {  // log and aspXY: of the faulting form
        const char* what; Op op; int call, form; LONG log, aspXY; int createDCs;
    } cases[] = {
        {"form 5, not a first paper", Op::GetDeviceCaps, 17 + 8 + 8 + 13 + 8 + 2, 5, 360, 509, 7},
        {"form 3, a first paper", Op::CreateDC, 5, 3, 600, 848, 7},
        {"the orientation test on form 0", Op::GetDeviceCaps, 13 + 2, 0, 600, 848, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        AddPrinter(fake);
        TraceCapture trace;
        fake.FaultOn(c.op, c.call);
        const Table t = Forms(&kLetterA4Legal, {{300, 300}, {360, 360}});
        ASSERT_EQ(t.num, 6u);
        const FormEntry& f = t[c.form];
        ExpectLetterAt600(f);
        EXPECT_EQ((std::vector<LONG>{f.paprI, f.resX, f.logX, f.logY, f.aspX, f.aspY, f.aspXY}),
                  (std::vector<LONG>{kIds[c.form % 3], c.form < 3 ? 300 : 360, c.log, c.log, c.log, c.log, c.aspXY}));
        // The next paper of the resolution keeps the same values with its own page.
        if (c.form % 3 != 2) {
            EXPECT_EQ(t[c.form + 1].logX, c.log);
            EXPECT_NE(t[c.form + 1].physW, 5100);
        }
        EXPECT_EQ(Containing(trace, "EXCEPTION: "), 1u);
        EXPECT_EQ(fake.Count(Op::CreateDC), c.createDCs);
        EXPECT_EQ(fake.OpenDCs(), 0);
        EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    }
}

TEST(FormsMeasured, WithoutTheDriversDevmodeEveryFormTakesTheFallback) {
    struct Case {
        const char* what; bool openable, devmode; int createDCs, documentProperties; const char* message;
    } cases[] = {
        // Measured with the printer's defaults, then the pending orientation
        // test has no DEVMODE to turn over.
        {"cannot be opened", false, true, 2, 0, "vlibPRINT_QueryDevCap_Forms => couldn't get a handle to the printer"},
        {"no DEVMODE", true, false, 0, 2, "vlibPRINT_QueryDevCap_Forms => couldn't allocate memory for pDefDM"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrintSystem fake;
        fake::FakePrinter& printer = AddPrinter(fake);
        printer.openable = c.openable;
        if (!c.devmode) printer.devmode.clear();
        TraceCapture trace;
        const Table t = Forms(&kLetterA4, {{300, 300}});
        ASSERT_EQ(t.num, 2u);
        for (int f = 0; f < 2; ++f) {
            ExpectLetterAt600(t[f]);
            EXPECT_EQ((std::vector<LONG>{t[f].resX, t[f].logX, t[f].aspXY}), (std::vector<LONG>{300, 600, 848}));
        }
        for (const fake::Call& call : CallsOf(fake, Op::CreateDC)) EXPECT_EQ(call.fields, 0u);
        EXPECT_EQ(fake.Count(Op::CreateDC), c.createDCs);
        EXPECT_EQ(fake.Count(Op::DocumentProperties), c.documentProperties);
        EXPECT_EQ(Containing(trace, c.message), 2u);
        EXPECT_EQ(Containing(trace, "EXCEPTION: "), 2u);
        EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    }
}

TEST(FormsMeasured, NoPaperSizesGiveAnEmptyTable) {
    FakePrintSystem fake;
    AddPrinter(fake);
    const std::vector<BYTE> noSizes = BuildPapers({DMPAPER_LETTER, DMPAPER_A4}, {L"Letter", L"A4"}, {});
    for (const std::vector<BYTE>* papers : {&noSizes, static_cast<const std::vector<BYTE>*>(nullptr)}) {
        const Table t = Forms(papers);
        EXPECT_TRUE(t.forms);
        EXPECT_EQ(t.num, 0u);
        EXPECT_EQ(t.size, 0u);
    }
    EXPECT_TRUE(fake.calls().empty());
}

TEST(FormsMeasured, ShorterIdAndNameListsGiveNoIdAndNoName) {
    FakePrintSystem fake;
    AddPrinter(fake);
    const std::wstring longName(kPaperNameChars, L'N');  // fills its slot without a terminator
    const std::vector<BYTE> papers = BuildPapers({DMPAPER_A4, DMPAPER_LEGAL}, {longName}, {kA4, kLegal, kSquare});
    const Table t = Forms(&papers, {{300, 300}});
    ASSERT_EQ(t.num, 3u);
    EXPECT_EQ((std::vector<LONG>{t[2].paprI, t[2].paprW}), (std::vector<LONG>{0, 2000}));
    const std::vector<fake::Call> dcs = CallsOf(fake, Op::CreateDC);  // form 0, its orientation test, 1, 2
    ASSERT_EQ(dcs.size(), 4u);
    EXPECT_EQ(dcs[0].formName, longName.substr(0, 31));
    EXPECT_EQ(dcs[2].formName, L"Letter");  // an empty name leaves the driver's own
}

TEST(FormsPerformance, OneDeviceContextPerFormAndOnePerOrientationTest) {
    FakePrintSystem fake;
    AddPrinter(fake);
    ASSERT_EQ(Forms(&kLetterA4Legal).num, 6u);
    // Per form: open, three DocumentProperties, close, a device context with
    // eight page reads; five more reads on the first paper of a resolution;
    // one orientation test of a device context and four reads.
    std::vector<int> counts;
    for (Op op : {Op::OpenPrinter, Op::DocumentProperties, Op::ClosePrinter, Op::CreateDC, Op::DeleteDC,
                  Op::GetDeviceCaps})
        counts.push_back(fake.Count(op));
    EXPECT_EQ(counts, (std::vector<int>{6, 6 * 3, 6, 6 + 1, 6 + 1, 6 * 8 + 2 * 5 + 4}));
    EXPECT_EQ(fake.calls().size(), 6u * 15 + 2 * 5 + 6);  // and nothing else
    EXPECT_EQ(fake.OpenDCs(), 0);
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

}  // namespace
