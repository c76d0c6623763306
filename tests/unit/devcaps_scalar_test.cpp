// The single-number capability queries: defaults, the driver's answer passed
// through unchanged, fault values, and the special trace forms.
#include <gtest/gtest.h>

#include <sstream>

#include "devcaps_test_util.h"
#include "fake/fake_print_system.h"

namespace {

using namespace devcaps_test;

using DevCapsScalar = OnePrinter;

TEST_F(DevCapsScalar, EveryMemberAnswersItsDefaultItsDriverOrItsExceptionValue) {
    for (const ScalarMember& m : kScalarMembers) {
        SCOPED_TRACE(m.name);
        const std::string prefix = std::string("vlibPRINT_QueryDevCap_") + m.name + " => ";
        fake.ClearCalls();
        printer.Cap(m.index).counts = {m.driverValue};
        for (bool defaults : {true, false}) {
            const int value = defaults ? m.defaultValue : m.driverValue;
            const char* text = defaults ? m.defaultTrace : m.driverTrace;
            trace.Mark();
            EXPECT_EQ(m.query(defaults ? nullptr : L"P", L"LPT1:", nullptr), value);
            std::vector<std::string> expected = {prefix + m.indexName};
            if (defaults) expected.push_back("using defaults");
            std::istringstream lines(text ? text : std::to_string(value));
            for (std::string line; std::getline(lines, line);) expected.push_back(prefix + line);
            EXPECT_EQ(trace.Since(), expected);
        }
        // Defaults ask nothing; the driver is asked its own index without an
        // output buffer (strings are never fetched).
        ASSERT_EQ(fake.calls().size(), 1u);
        EXPECT_EQ(fake.calls()[0].arg, m.index);
        EXPECT_FALSE(fake.calls()[0].withOutput);
        printer.Cap(m.index).faultOnCalls = {2};
        trace.Mark();
        EXPECT_EQ(m.query(L"P", nullptr, nullptr), m.exceptionValue);
        EXPECT_EQ(trace.Since().at(1), "threw exception");  // after the index line
    }
}

}  // namespace
