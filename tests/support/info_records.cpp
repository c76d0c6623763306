#include "support/info_records.h"

#include <utility>

namespace testsupport {

void ExpectConversionsGiveTheDirectRecords(const std::string& r400, const std::string& r401, const std::string& r402) {
    const struct {
        std::string converted;
        const std::string& direct;
        bool noSpooler, noOptions;
    } conversions[] = {
        {Take(vlibPRINT_ConvertKVPI400to401(As<KVPrinterInfo400>(r400))), r401, true, false},
        {Take(vlibPRINT_ConvertKVPI400to402(As<KVPrinterInfo400>(r400))), r402, true, true},
        {Take(vlibPRINT_ConvertKVPI401to402(As<KVPrinterInfo401>(r401))), r402, false, true},
    };
    for (const auto& c : conversions) {
        std::string expected = c.direct;
        if (c.noSpooler) expected.replace(4692, 20, 20, '\0');
        if (c.noOptions) expected.replace(8632, 16, 16, '\0');
        EXPECT_TRUE(c.converted == expected) << "converted to " << At(c.direct, 4) << " from a " << c.direct.size() << "-byte record";
    }
}

FormEntry Turned(FormEntry f) {
    std::swap(f.resX, f.resY), std::swap(f.hsize, f.vsize), std::swap(f.hres, f.vres), std::swap(f.logX, f.logY);
    std::swap(f.aspX, f.aspY), std::swap(f.physW, f.physH), std::swap(f.offX, f.offY);
    return f;
}

}  // namespace testsupport
