#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>

#include "capture_stdout.h"
#include "host_fixture.h"
#include "plugin/streams.h"

using orvanhost::Arg;

class Verbosity : public orvan_test::HostFixture {
protected:
    int Set(double level) {
        Call("SetORVANverbosity", {Arg::Number(level)});
        return log_threshold;
    }
};

TEST_F(Verbosity, TruncatesTowardZeroAndSaysSo) {
    EXPECT_EQ(Set(2.9), 2);
    EXPECT_EQ(TakeResults(), "set log_threshold to 2\n");
    EXPECT_EQ(Set(-0.5), 0);
    EXPECT_EQ(Set(0.99), 0);
    EXPECT_EQ(&DiagnosticStream(), &NullStream);
    EXPECT_EQ(Set(1), 1);
    EXPECT_EQ(&DiagnosticStream(), &std::cout);
    EXPECT_EQ(Set(-3), -3);
    EXPECT_EQ(&DiagnosticStream(), &NullStream);
    EXPECT_EQ(TakeResults(),
              "set log_threshold to 0\nset log_threshold to 0\nset log_threshold to 1\nset log_threshold to -3\n");
}

TEST_F(Verbosity, NotANumberAndOutOfRangeGiveTheLowestLevel) {
    EXPECT_EQ(Set(std::nan("")), INT_MIN);
    EXPECT_EQ(Set(3e9), INT_MIN);
    EXPECT_EQ(Set(-3e9), INT_MIN);
    EXPECT_EQ(Set(std::numeric_limits<double>::infinity()), INT_MIN);
    EXPECT_EQ(Set(2147483520.0), 2147483520);  // the largest float below 2^31
    EXPECT_EQ(Set(-2147483648.0), INT_MIN);
    EXPECT_EQ(TakeResults().substr(0, 33), "set log_threshold to -2147483648\n");
}

TEST_F(Verbosity, DiagnosticsReachStandardOutputOnlyFromLevelOne) {
    orvan_test::CaptureStdout out;
    DiagnosticStream() << "hidden" << std::endl;
    Set(1);
    DiagnosticStream() << "shown" << std::endl;
    Set(0);
    DiagnosticStream() << "hidden again" << std::endl;
    EXPECT_EQ(out.Text(), "shown\n");
}

TEST(NullStream, SwallowsAnyAmountAndStaysGood) {
    orvan_test::CaptureStdout out;
    for (int i = 0; i < 1000; ++i) NullStream << std::string(1000, 'x') << i << 2.5 << std::endl;
    NullStream.write("abc", 3).put('d').flush();
    EXPECT_TRUE(NullStream.good());
    EXPECT_EQ(out.Text(), "");
}
