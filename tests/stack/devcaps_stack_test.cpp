// The paper, bin and resolution queries against the real print stack (Wine's PostScript
// driver over a private CUPS scheduler): what they store must be what the
// driver answers to direct DeviceCapabilitiesW calls.
#include <gtest/gtest.h>

#include "devcaps/list_queries.h"
#include "devcaps/resolutions.h"
#include "harness.h"
#include "unit/devcaps_test_util.h"

namespace {

TEST(DevCapsStack, PaperBinAndResolutionListsMatchTheDriver) {
    KV_SKIP_WITHOUT_HARNESS();
    for (const std::wstring& printer : harness::List(L"KV_CUPS_PRINTERS")) {
        SCOPED_TRACE(testsupport::Narrow(printer));
        devcaps_test::Block<PaperBuffer> p(vlibPRINT_QueryDevCap_Papers(printer.c_str(), nullptr, nullptr));
        devcaps_test::Block<BinBuffer> b(vlibPRINT_QueryDevCap_Bins(printer.c_str(), nullptr, nullptr));
        ASSERT_TRUE(p && b);
        harness::ExpectSameList(printer, DC_PAPERNAMES, kPaperNameBytes, p.get(), p->dwNumPaperNames, p->dwOffsetToPaperNames);
        harness::ExpectSameList(printer, DC_PAPERS, kPaperIdBytes, p.get(), p->dwNumPapers, p->dwOffsetToPapers);
        harness::ExpectSameList(printer, DC_PAPERSIZE, kPaperSizeBytes, p.get(), p->dwNumPaperSize, p->dwOffsetToPaperSize);
        harness::ExpectSameList(printer, DC_BINNAMES, kBinNameBytes, b.get(), b->dwNumBinNames, b->dwOffsetToBinNames);
        harness::ExpectSameList(printer, DC_BINS, kBinIdBytes, b.get(), b->dwNumBins, b->dwOffsetToBins);
        // The resolution list, or none at all when the driver reports no pairs.
        DWORD numRes = 0, sizeRes = 0;
        devcaps_test::Block<ResolutionPair> r(
            vlibPRINT_QueryDevCap_Resolutions(printer.c_str(), nullptr, nullptr, nullptr, &numRes, &sizeRes));
        if (platform::spooler.DeviceCapabilitiesW(printer.c_str(), nullptr, DC_ENUMRESOLUTIONS, nullptr, nullptr) > 0)
            harness::ExpectSameList(printer, DC_ENUMRESOLUTIONS, sizeof(ResolutionPair), r.get(), numRes, 0);
        else
            EXPECT_TRUE(!r && numRes == 0 && sizeRes == 0);
    }
}

}  // namespace
