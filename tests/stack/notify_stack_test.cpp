// Wine's spooler offers no change notification: a start on a harness printer
// is traced and leaves the object idle, and kvwatch.exe says so in one line
// and exits 3. Without the harness (scripts/test starts it) skipped; a wrong
// command line (1) and an unknown printer (2) need no harness.
#include <gtest/gtest.h>

#include "harness.h"
#include "support/run_program.h"
#include "unit/printer_fixture.h"

namespace {

TEST(NotifyStack, WineOffersNoChangeNotification) {
    KV_SKIP_WITHOUT_HARNESS();
    const std::wstring name = harness::List(L"KV_CUPS_PRINTERS").front();
    testsupport::TraceCapture trace;
    CPrinter(trace.log(), name, 2, 0).StartPrinterNotifyThread();
    // Idle after the failed start: the destructor finds nothing to stop.
    EXPECT_TRUE(printer_test::InOrder(trace.Lines(),
                                      {"CPrinter::StartPrinterNotifyThread => failed to get notify handle",
                                       "CPrinter::StopPrinterNotifyThread => already stopped?", "~CPrinter => deleted"}));
    // Asked to watch for a minute, kvwatch gives up at once.
    std::string output;
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"\"" + name + L"\" 60", &output), 3u);
    EXPECT_EQ(output, "kvwatch: the spooler offers no change notification for \"" + testsupport::Narrow(name) + "\"\r\n");
}

TEST(NotifyStack, KvWatchUsageAndUnknownPrinter) {
    std::string output;
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"", &output), 1u);
    EXPECT_EQ(output, "usage: kvwatch PRINTER [SECONDS]\r\n       kvwatch --version\r\n");
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"\"No such printer\" 1", &output), 2u);
    EXPECT_EQ(output, "kvwatch: cannot open printer \"No such printer\"\r\n");
}

}  // namespace
