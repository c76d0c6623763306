// Paper, resolution and form matching, as tables of requests and what each
// must choose, including the choices made for indexes outside their lists.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>

#include "print/form_matching.h"
#include "support/info_records.h"
#include "trace_capture.h"

namespace {

// A resolution list; never a null pointer, even without entries.
struct List { DWORD n; ResolutionPair at[6]; };

DEVMODEW Dm(DWORD fields, short code, short q = 0, short y = 0, const char* name = "", short width = 0, short length = 0) {
    DEVMODEW dm = {};
    dm.dmFields = fields;
    dm.dmPaperSize = code, dm.dmPrintQuality = q, dm.dmYResolution = y;
    testsupport::SetName(dm.dmFormName, name);
    dm.dmPaperWidth = width, dm.dmPaperLength = length;
    return dm;
}

// ------------------------------------------------------------ paper

const WORD kCodes[] = {1, 5, 8, 9, 0xFFFF};
const WCHAR kNames[5][kPaperNameChars] = {L"Letter", L"Legal", L"A3", L"A4", L"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234X and more"};
const PaperSize kSizes[] = {{2159, 2794}, {2159, 3556}, {2970, 4200}, {2100, 2970}, {1000, 1000}};

TEST(PaperMatching, ByCodeThenNameThenSizeWithOneRetryOnTheOutput) {
    const struct { const char* what; DEVMODEW in, out; LONG expected; } cases[] = {
        {"code 9 at position 3", Dm(DM_PAPERSIZE, 9), {}, 3},
        // 32 units without terminator, equal to the last paper's name in the first 31.
        {"names equal in their first 31 characters", Dm(DM_FORMNAME, 0, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234Y"), {}, 4},
        {"unknown code, then the name in either case", Dm(DM_PAPERSIZE | DM_FORMNAME, 77, 0, 0, "lEGAL"), {}, 1},
        {"size only", Dm(DM_PAPERWIDTH | DM_PAPERLENGTH, 0, 0, 0, "", 2970, 4200), {}, 2},
        {"nothing in pdmIn: the code in pdmOut", Dm(DM_COLOR, 0), Dm(DM_PAPERSIZE, 5), 1},
        {"code -1 is not 65535", Dm(DM_PAPERSIZE, -1), {}, -1},
    };
    auto find = [](const DEVMODEW* in, DEVMODEW* out, DWORD count = 5) {
        return vlibPRINT_GetPaperIndex(in, out, count, kCodes, kNames[0], kSizes, nullptr);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DEVMODEW out = c.out;
        ASSERT_EQ(find(&c.in, &out), c.expected);
        if (c.expected < 0) continue;
        // The four paper fields of pdmOut name that paper consistently.
        EXPECT_TRUE((out.dmFields & 0x1000E) == 0x1000E && static_cast<WORD>(out.dmPaperSize) == kCodes[c.expected] &&
                    std::wstring(out.dmFormName) == std::wstring(kNames[c.expected]).substr(0, 31));
        EXPECT_TRUE(out.dmPaperWidth == kSizes[c.expected].width && out.dmPaperLength == kSizes[c.expected].length);
    }
    // Missing inputs: -1 and pdmOut untouched; a found paper without pdmOut is -1 too.
    const DEVMODEW nine = Dm(DM_PAPERSIZE, 9);
    DEVMODEW out = Dm(DM_COLOR, 0);
    EXPECT_TRUE(find(&nine, nullptr) == -1 && find(nullptr, &out) == -1 && find(&nine, &out, 0) == -1);
    EXPECT_TRUE(vlibPRINT_GetPaperIndex(&nine, &out, 5, kCodes, nullptr, kSizes, nullptr) == -1 && out.dmFields == DM_COLOR);
    const DEVMODEW fifth = Dm(DM_FORMNAME, 0, 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");  // found by name, not past the count
    EXPECT_TRUE(find(&fifth, &out) == 4 && find(&fifth, &out, 4) == -1);
}

// ------------------------------------------------------------ resolution

const List R1 = {1, {{300, 300}}}, R3 = {3, {{300, 300}, {600, 1200}, {1200, 2400}}};
const List R6 = {6, {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}};
const List I1 = {1, {{150, 150}}}, I2 = {2, {{300, 300}, {600, 600}}}, I3 = {3, {{150, 150}, {300, 300}, {600, 600}}};
const List I4 = {4, {{150, 150}, {300, 300}, {600, 600}, {1200, 1200}}}, None = {};
constexpr DWORD Q = DM_PRINTQUALITY, Y = DM_YRESOLUTION, QY = Q | Y;

TEST(ResolutionMatching, DispatchOnTheTwoBitsAndTheRulesBehindIt) {
    const struct {
        const char* what; DWORD indexedOnly; const List &real, &indexed; DWORD bits; short q, y;
        LONG expected; short outQ, outY; DWORD outBits; const char* line;
    } cases[] = {
        {"exact dpi", 0, R3, I4, QY, 600, 1200, 1, 600, 1200, QY, "found a match for both!"},
        {"partial matches: the last wins", 0, R3, I4, QY, 600, 300, 1, 600, 1200, QY, "using a partial match!"},
        {"both bits, y 0: average", 0, R3, I4, QY, 600, 0, 2, 1200, 2400, QY, "can't find a good match, defaulting to average quality"},
        {"quality index within the list", 0, R3, I4, Q, -4, 0, -4, -4, 0, Q, "setting to real index"},
        {"quality index beyond: 1 - n", 0, R3, I3, Q, -4, 0, -2, -2, 0, Q, "setting to highest mock index"},
        {"y-resolution index", 0, R3, I4, QY, 0, -2, -2, -2, 0, Q, "yresolution seems to be an index, ignoring printquality"},
        {"only y-resolution as dpi", 0, R3, I4, Y, 0, 1200, 1, 600, 1200, QY, "found matching yresolution"},
        {"quality dpi listed as a y only: default", 0, R3, I4, Q, 2400, 0, 1, 600, 1200, QY, "no match"},
        {"indexed only: dpi in the indexed list", 1, None, I2, QY, 600, 600, -2, -2, 0, Q, "returning index -2"},
        {"no bits, six real", 0, R6, I4, 0, 0, 0, 3, 4, 4, QY, "no resolution specified, trying to use res already in output devmode!"},
        {"no bits, indexed only, four", 1, None, I4, 0, 0, 0, -3, -3, 0, Q, "didn't find resolution index, defaulting to ...?"},
        {"no bits, indexed only, none", 1, None, None, 0, 0, 0, -2, -2, 0, Q, "returning index -2"},
        {"no bits, no real", 0, None, I4, 0, 0, 0, 0, 0, 0, 0, "returning NO resolution"},
        {"average of four", 0, I4, I4, Q, 0, 0, 2, 600, 600, QY, "returning resolution 2: (600, 600)"},
        {"average of one", 0, R1, I4, Q, 0, 0, 0, 300, 300, QY, "returning resolution 0: (300, 300)"},
        {"average of none", 0, None, I4, Q, 0, 0, -1, -1, 0, Q, "returning index -1"},
        {"mock index 0 with one indexed entry is real", 0, R3, I1, Q, -3, 0, 0, 300, 300, QY, "returning resolution 0: (300, 300)"},
        // Beyond the list: the mock index 1 (no indexed entry) means the last real one, or none.
        {"mock index 1 beyond one real entry", 0, R1, None, Q, -3, 0, 0, 300, 300, QY, "index 1 is beyond the 1 real resolutions, using the last one"},
        {"mock index 1 without real entries", 0, None, None, Q, -3, 0, 1, 0, 0, 0, "returning NO resolution"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TraceCapture trace;
        const DEVMODEW in = Dm(c.bits, 0, c.q, c.y);
        // pdmOut holds a stale y-resolution bit unless it is consulted itself.
        DEVMODEW out = Dm(DM_COLOR | (c.bits ? Y : 0), 0, 0, 7);
        EXPECT_EQ(vlibPRINT_GetResolutionIndex(&in, &out, c.indexedOnly, c.real.n, c.real.at, c.indexed.n, c.indexed.at, trace.log()),
                  c.expected);
        EXPECT_TRUE(out.dmPrintQuality == c.outQ && out.dmYResolution == c.outY && out.dmFields == (c.outBits | DM_COLOR))
            << out.dmPrintQuality << " " << out.dmYResolution << " " << out.dmFields;
        EXPECT_TRUE(testsupport::Has(trace.Lines(), std::string("vlibPRINT_GetResolutionIndex => ") + c.line));
    }
    const DEVMODEW in = Dm(Q, 0, 600);
    DEVMODEW out = Dm(DM_COLOR, 0);
    EXPECT_EQ(vlibPRINT_GetResolutionIndex(nullptr, &out, 0, 3, R3.at, 4, I4.at, nullptr), -1);
    EXPECT_EQ(vlibPRINT_GetResolutionIndex(&out, nullptr, 0, 3, R3.at, 4, I4.at, nullptr), -1);  // no resolution, no output
    EXPECT_TRUE(vlibPRINT_GetResolutionIndex(&in, &out, 0, 3, R3.at, 0, nullptr, nullptr) == -1 && out.dmFields == DM_COLOR);
}

// ------------------------------------------------------------ form

// A capability record with only what matching reads: papers (code 100 + i,
// name "P<i>", size 1000 + i x 2000 + i), the two resolution lists and the
// forms. Every value of form k is k * 100 + its field number, except
// orientFlag, which is k % 2.
FormEntry Stored(DWORD k) {
    FormEntry form;
    for (DWORD f = 0; f < 21; ++f) reinterpret_cast<LONG*>(&form)[f] = LONG(f == 1 ? k % 2 : k * 100 + f);
    return form;
}
std::string Record(DWORD papers, const List& real, const List& indexed, DWORD indexedOnly, DWORD named, DWORD forms) {
    std::string bytes(kCaps4HeaderSize, '\0');
    auto BytesOf = [](const auto& value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); };
    // A section behind the others, entry i written as entry(i) gives it; its
    // offset, size and count lie side by side in the header.
    auto add = [&](size_t field, DWORD n, auto entry) {
        const DWORD header[3] = {static_cast<DWORD>(bytes.size()), static_cast<DWORD>(n * sizeof(entry(0))), n};
        std::memcpy(bytes.data() + field, header, sizeof(header));
        for (DWORD i = 0; i < n; ++i) bytes += BytesOf(entry(i));
    };
    add(offsetof(caps4, dwOffsetToResolutions), real.n, [&](DWORD i) { return real.at[i]; });
    add(offsetof(caps4, dwOffsetToResolutionsIndexed), indexed.n, [&](DWORD i) { return indexed.at[i]; });
    add(offsetof(caps4, dwOffsetToPaperNames), named, [](DWORD i) { return std::array<WCHAR, kPaperNameChars>{L'P', WCHAR(L'0' + i)}; });
    add(offsetof(caps4, dwOffsetToPapers), papers, [](DWORD i) { return WORD(100 + i); });
    add(offsetof(caps4, dwOffsetToPaperSize), named, [](DWORD i) { return PaperSize{LONG(1000 + i), LONG(2000 + i)}; });
    add(offsetof(caps4, dwOffsetToForms), forms, Stored);
    testsupport::PutAt(bytes, offsetof(caps4, dwSize), static_cast<DWORD>(bytes.size()));
    testsupport::PutAt(bytes, offsetof(caps4, dwIndexedResolutionsOnly), indexedOnly);
    return bytes;
}

TEST(FormMatching, PaperTimesResolutionSlotWithTheRecordsBounds) {
    const List R2 = {2, {{300, 300}, {600, 1200}}}, B4 = {4, {{600, 1200}, {150, 150}, {600, 600}, {999, 999}}};
    const std::string indexedOnly = Record(10, None, I4, 1, 10, 40), mixed = Record(3, R2, B4, 0, 3, 6),
        cut = Record(3, R2, None, 0, 3, 3), noForms = Record(3, R2, B4, 0, 3, 0), noResolutions = Record(2, None, None, 0, 2, 2);
    // Three codes, two sizes and one name: paper 1 has a code and a size but no name. A forms section that starts
    // one form before the record's end and claims six.
    std::string shortNames = Record(3, R2, None, 0, 2, 4), formsOutside = Record(3, R2, B4, 0, 3, 6);
    testsupport::PutAt(shortNames, offsetof(caps4, dwNumPaperNames), DWORD{1});
    testsupport::PutAt(formsOutside, offsetof(caps4, dwOffsetToForms), DWORD(formsOutside.size() - 84));
    // form -1: none, the entry stays zero.
    const struct { const char* what; const std::string& record; DEVMODEW in; LONG form; const char* line; } cases[] = {
        {"indexed only: paper 2 at quality -2", indexedOnly, Dm(DM_PAPERSIZE | Q, 102, -2, 0), 12, "vlibPRINT_GetForm => indexed only resolutions"},
        {"no paper named: paper 0", indexedOnly, Dm(Q, 0, -1, 0), 0, "vlibPRINT_GetForm => defaulting to paper index: 0"},
        {"dpi request", mixed, Dm(DM_PAPERSIZE | QY, 102, 600, 1200), 5, "vlibPRINT_GetForm => resolution: 1"},
        {"quality index: its effective real resolution", mixed, Dm(DM_PAPERSIZE | Q, 101, -1, 0), 4, "vlibPRINT_GetForm => found effective resolution: 1"},
        {"quality index: a backup on x", mixed, Dm(DM_PAPERSIZE | Q, 101, -3, 0), 4, "vlibPRINT_GetForm => using backup effective resolution: 1"},
        {"quality index: none, slot 0", mixed, Dm(DM_PAPERSIZE | Q, 101, -4, 0), 1, "vlibPRINT_GetForm => no effective resolution found, using 0"},
        // Bounds: papers only where all three lists have them, the paper-size
        // stride, a form beyond the table, no forms, no indexed entry.
        {"paper beyond the names: paper 0, stride 2", shortNames, Dm(DM_PAPERSIZE | QY, 101, 600, 600), 2, "vlibPRINT_GetForm => form: 2"},
        {"form beyond the table: the paper at slot 0", cut, Dm(DM_PAPERSIZE | QY, 102, 600, 600), 2, "vlibPRINT_GetForm => no form of paper 2 at resolution slot 1 in the record (3 forms), using form 2"},
        {"no forms", noForms, Dm(DM_PAPERSIZE | QY, 101, 600, 600), -1, "vlibPRINT_GetForm => no form of paper 1 at resolution slot 1 in the record (0 forms), using form 0"},
        {"forms past the end", formsOutside, Dm(DM_PAPERSIZE | QY, 101, 600, 600), -1, "vlibPRINT_GetForm => no form of paper 1 at resolution slot 1 in the record (0 forms), using form 0"},
        {"average -1 without indexed entries", noResolutions, Dm(DM_PAPERSIZE | Q, 101, 0, 0), 1, "vlibPRINT_GetForm => indexed resolution 0 is not in the record"},
    };
    for (const auto& c : cases) {
        for (bool landscape : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (landscape ? ", landscape" : ""));
            testsupport::TraceCapture trace;
            DEVMODEW in = c.in, out = {};
            if (landscape) in.dmFields |= DM_ORIENTATION, in.dmOrientation = DMORIENT_LANDSCAPE;
            FormEntry got;
            ASSERT_EQ(vlibPRINT_GetForm(&got, &in, &out, 100, testsupport::As<caps4>(c.record), trace.log()), &got);
            EXPECT_TRUE(testsupport::Has(trace.Lines(), c.line));
            // Stored values at scale 100, landscape turning an odd (flagged) form; no form: all 0.
            const FormEntry stored = c.form < 0 ? FormEntry{} : Stored(c.form);
            const FormEntry expected = landscape && c.form % 2 == 1 ? testsupport::Turned(stored) : stored;
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof(got)), 0) << got.formNo << " " << got.physW;
        }
    }
    // The two searches on their own: over the record's lists, -1 without a record.
    const DEVMODEW in = Dm(DM_PAPERSIZE | QY, 102, 600, 1200);
    DEVMODEW out = {};
    EXPECT_TRUE(vlibPRINT_GetPaperIndexOfCaps4(&in, &out, testsupport::As<caps4>(mixed), nullptr) == 2 &&
                vlibPRINT_GetResolutionIndexOfCaps4(&in, &out, testsupport::As<caps4>(mixed), nullptr) == 1);
    EXPECT_TRUE(vlibPRINT_GetPaperIndexOfCaps4(&in, &out, nullptr, nullptr) == -1 &&
                vlibPRINT_GetResolutionIndexOfCaps4(&in, &out, nullptr, nullptr) == -1);
}

TEST(FormMatching, ScaleMultipliesLogicalPixelsAndDividesSizes) {
    const std::string record = Record(10, None, I4, 1, 10, 40);
    const DEVMODEW in = Dm(DM_PAPERSIZE | Q, 102, -2, 0);  // form 12: logX 1212, logY 1213, hsize 1208, vsize 1209
    // 0 is taken as no scaling; a product beyond a LONG is held at its largest value.
    const struct { DWORD scale; LONG logX, logY, hsize, vsize; } cases[] = {
        {100, 1212, 1213, 1208, 1209}, {50, 606, 606, 2416, 2418}, {150, 1818, 1819, 805, 806},
        {0, 1212, 1213, 1208, 1209},   {0xFFFFFFFF, LONG_MAX, LONG_MAX, 0, 0}};
    for (const auto& c : cases) {
        DEVMODEW out = {};
        FormEntry got;
        vlibPRINT_GetForm(&got, &in, &out, c.scale, testsupport::As<caps4>(record), nullptr);
        EXPECT_TRUE(got.logX == c.logX && got.logY == c.logY && got.hsize == c.hsize && got.vsize == c.vsize && got.physW == 1217)
            << c.scale << ": " << got.logX << " " << got.logY << " " << got.hsize << " " << got.vsize;
    }
}

}  // namespace
