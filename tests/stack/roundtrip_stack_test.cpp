// The round trip of the IPP export, its part inside Wine. scripts/roundtrip
// serves each printer's exported attributes with ippeveprinter, lets the
// private scheduler build a driverless queue <printer>_ipp from them, runs
// kvclient.exe -q again, and then this test with KV_ROUNDTRIP_DIR (the
// records of both runs, <printer>.kvp and <printer>_ipp.kvp) and
// KV_ROUNDTRIP_PRINTERS (comma-separated). Without them it is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "harness.h"
#include "records/caps4.h"
#include "records/caps4_check.h"
#include "records/caps4_media.h"

namespace {

using testsupport::Narrow;
using Values = std::vector<double>;

// Whether every value is within its tolerance of the wanted one.
bool Near(const Values& got, const Values& want, const Values& tolerance) {
    for (size_t i = 0; i < got.size(); ++i)
        if (std::fabs(got[i] - want[i]) > tolerance[i]) return false;
    return true;
}
// Size in tenths of a millimetre, margins left, top, right, bottom in hundredths.
Values Page(const MediaPage& p) {
    return {double(p.size.width), double(p.size.length), double(p.left), double(p.top), double(p.right), double(p.bottom)};
}

TEST(RoundTripStack, TheDriverlessQueueKeepsEveryPapersSizeAndMargins) {
    const wchar_t* dir = _wgetenv(L"KV_ROUNDTRIP_DIR");
    const std::vector<std::wstring> printers = harness::List(L"KV_ROUNDTRIP_PRINTERS");
    if (!dir || printers.empty()) GTEST_SKIP() << "run by scripts/roundtrip";
    for (const std::wstring& printer : printers) {
        SCOPED_TRACE(Narrow(printer));
        struct Sets { QueryBuffers at[2]{}; ~Sets() { for (QueryBuffers& set : at) vlibPRINT_FreeQueryBuffers(&set); } } sets;
        for (int i = 0; i < 2; ++i) {  // the original and the recreated printer
            const std::string bytes = testsupport::ReadFileBytes(dir + (L"\\" + printer) + (i ? L"_ipp.kvp" : L".kvp"));
            ASSERT_TRUE(vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), nullptr, 0) &&
                        vlibPRINT_UnpackCaps4(&sets.at[i], reinterpret_cast<const caps4*>(bytes.data()), bytes.size()));
        }
        const std::vector<harness::PpdPage> ppd = harness::ReadPpdPages(printer + L"_ipp");
        const std::string ppdText = testsupport::ReadFileBytes(harness::PpdPath(printer + L"_ipp"));
        const std::vector<MediaPage> papers = vlibPRINT_MediaPages(&sets.at[0]), copies = vlibPRINT_MediaPages(&sets.at[1]);
        for (const MediaPage& paper : papers) {
            ASSERT_TRUE(paper.hasMargins) << Narrow(paper.name);
            // The PPD, in points: the size within 2 (the scheduler snaps sizes to their standard), the printable area within 1.
            const double pt = 72 / 2540.0;  // points in a hundredth of a millimetre
            const bool listed = std::any_of(ppd.begin(), ppd.end(), [&](const harness::PpdPage& p) {
                return Near({p.width / pt / 10, p.length / pt / 10, p.area[0] / pt, (p.length - p.area[3]) / pt,
                             (p.width - p.area[2]) / pt, p.area[1] / pt}, Page(paper), {7.06, 7.06, 35.3, 35.3, 35.3, 35.3});
            });
            // The recreated record: the size within those 2 points, the margins within half a millimetre.
            const bool back = std::any_of(copies.begin(), copies.end(), [&](const MediaPage& c) {
                return c.hasMargins && Near(Page(c), Page(paper), {7, 7, 50, 50, 50, 50});
            });
            EXPECT_TRUE(listed && back) << Narrow(paper.name) << (listed ? " did not come back" : " is not in the PPD");
        }
        EXPECT_FALSE(papers.empty());
        EXPECT_EQ(ppdText.find("*Duplex DuplexNoTumble") != std::string::npos, sets.at[0].dwDuplex == 1);
        EXPECT_EQ(ppdText.find("*ColorDevice: True") != std::string::npos, sets.at[0].dwColor == 1);
        // Wine's driver gives the extents of its papers, which become a range of custom sizes.
        EXPECT_NE(ppdText.find("*CustomPageSize True"), std::string::npos);
    }
}

}  // namespace
