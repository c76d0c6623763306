// kvwatch.exe's exit code and line for a wrong command line (1), an unknown
// printer (2) and, on a harness printer (without the harness, which
// scripts/test starts, skipped), Wine's spooler that offers no change
// notification (3): asked to watch for a minute, kvwatch gives up at once.
#include <gtest/gtest.h>

#include "harness.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

TEST(NotifyStack, KvWatchUsageAndUnknownPrinter) {
    std::string output;
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"", &output), 1u);
    EXPECT_EQ(output, "usage: kvwatch PRINTER [SECONDS]\r\n       kvwatch --version\r\n");
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"\"No such printer\" 1", &output), 2u);
    EXPECT_EQ(output, "kvwatch: cannot open printer \"No such printer\"\r\n");
}

TEST(NotifyStack, WineOffersNoChangeNotification) {
    KV_SKIP_WITHOUT_HARNESS();
    const std::wstring name = harness::List(L"KV_CUPS_PRINTERS").front();
    std::string output;
    EXPECT_EQ(testsupport::RunProgram(L"kvwatch.exe", L"\"" + name + L"\" 60", &output), 3u);
    EXPECT_EQ(output, "kvwatch: the spooler offers no change notification for \"" + testsupport::Narrow(name) + "\"\r\n");
}

}  // namespace
