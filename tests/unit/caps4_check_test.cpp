// The structural check of stored capability records: what the inspection
// tool and the end-to-end check rely on to refuse damaged or foreign bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "printer_fixture.h"
#include "records/caps4_check.h"

namespace {

using namespace printer_test;

class Caps4Check : public ::testing::Test {
protected:
    void SetUp() override {
        Env env;
        env.SetCacheMethod(2);
        env.fake.AddPrinter(L"Office").SetMedia({{DMMEDIA_STANDARD, L"Plain"}});
        CPrinter printer(nullptr, L"Office", 1, 0);
        printer.Query(1, nullptr, nullptr);
        record_ = Serialized(printer);
        ASSERT_GT(record_.size(), 412u);
    }
    std::string Why(const std::string& bytes) {
        WCHAR why[256] = {};
        if (vlibPRINT_CheckCaps4(bytes.data(), bytes.size(), why, 256)) return "ok";
        return testsupport::Narrow(why);
    }
    void Put(std::string& bytes, size_t offset, DWORD value) { std::memcpy(&bytes[offset], &value, 4); }
    std::string record_;
};

TEST_F(Caps4Check, APackedRecordPassesAndItsSectionsTileIt) {
    EXPECT_EQ(Why(record_), "ok");
    Caps4Section sections[kCaps4SectionCount];
    vlibPRINT_Caps4Sections(record_.data(), sections);
    DWORD end = 412;
    for (const Caps4Section& s : sections) {
        EXPECT_EQ(s.offset, end) << testsupport::Narrow(s.name);
        end = s.offset + s.size;
    }
    EXPECT_EQ(end, record_.size());
    EXPECT_EQ(sections[13].count, 4u);  // two papers at two resolutions
}

TEST_F(Caps4Check, DamagedAndForeignBytesAreRefusedWithTheReason) {
    EXPECT_EQ(Why(record_.substr(0, 400)), "400 bytes is shorter than the 412-byte record header");
    std::string cut = record_.substr(0, record_.size() - 1);
    EXPECT_NE(Why(cut).find("says it is"), std::string::npos);
    std::string text(600, 'x');
    EXPECT_NE(Why(text).find("(not a capability record)"), std::string::npos) << Why(text);

    std::string bad = record_;
    Put(bad, 408, 1);  // dwEnd
    EXPECT_EQ(Why(bad), "dwEnd is 1 instead of 0");

    bad = record_;
    Put(bad, 400, 5);  // dwNumForms no longer matches dwSizeOfForms
    EXPECT_NE(Why(bad).find("forms section holds"), std::string::npos) << Why(bad);

    bad = record_;
    Put(bad, 396, 0x7FFFFFF0);  // forms running far past the end
    EXPECT_NE(Why(bad).find("forms section"), std::string::npos) << Why(bad);

    bad = record_;
    Put(bad, 60, 416);  // resolutions no longer follow the bins
    EXPECT_NE(Why(bad).find("resolutions section starts at 416"), std::string::npos) << Why(bad);
}

TEST_F(Caps4Check, AnEmptyPrinterPacksIntoABareHeaderThatPasses) {
    std::string bare(412, '\0');
    Put(bare, 0, 412);
    for (int at : {4, 16, 60, 72, 92, 112, 124, 136, 160, 172, 184, 196, 208, 392}) Put(bare, at, 412);
    EXPECT_EQ(Why(bare), "ok");
    Put(bare, 16, 0);
    EXPECT_NE(Why(bare), "ok");
}

}  // namespace
