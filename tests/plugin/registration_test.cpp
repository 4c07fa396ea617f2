// Start-up, registration and withdrawal, in-process and through dlopen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "plugin/streams.h"

using orvan_test::HostFixture;

namespace {

const std::vector<std::string> kSignatures = {
    "void SetORVANverbosity(float )",
    "float GuessCenter(BasicImage, float *, float *)",
    "float GuessInnerandOuterRadius(BasicImage, float, float, float, float *, float *, float *)",
    "float RefineCenter(BasicImage, float *, float *, float *, float *, float *)",
    "float RefineCenterEllipticity(BasicImage, float *, float *, float *, float *, float *, float *, float *, float, float)",
    "float RefineCenterEllipticityFit(BasicImage, float *, float *, float *, float *, float *, float *, float *, float, float)",
    "float RefineCenterEllipticitySimplex(BasicImage, float *, float *, float *, float *, float *, float *, float *)",
    "void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float, float)",
    "void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, float, float)",
    "void AzimuthalIntegralSektor(BasicImage, ImageRef *, float, float, float, float, float, float)",
    "void AzimuthalIntegralSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, float, float, float, float)",
    "void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)",
    "void PeakFindPreFit(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float,float)",
    "void PreFit(RealImagePtr, RealImagePtr, RealImagePtr, float, float)",
    "void PeakFit(RealImagePtr,RealImagePtr,RealImagePtr)",
    "void saveprofileasxlslong(RealImagePtr, host_string, host_string, float, host_string, host_string)",
    "void saveprofileasxls(RealImagePtr, host_string, host_string, float)",
    "void saveimageasxls(RealImagePtr, host_string, host_string, host_string, host_string)",
    "float GetMouseState(host_string)",
    "void FakeESC()",
    "void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float,float,float)",
    "void RDF_Kirklandfunction(RealImagePtr,RealImagePtr,float*,float*,float,float)",
    "void CalculateRDF(RealImagePtr,ImageRef *,float,float,float,float,float)",
};

std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const std::string& s : kSignatures) {
        const auto open = s.find('(');
        const auto space = s.find(' ');
        names.push_back(s.substr(space + 1, open - space - 1));
    }
    return names;
}

std::vector<std::string> Reversed(std::vector<std::string> v) {
    std::reverse(v.begin(), v.end());
    return v;
}

std::vector<std::string> Registered(const orvanhost::HostProgram& host) {
    std::vector<std::string> out;
    for (const orvanhost::FunctionEntry* e : host.Functions()) out.push_back(e->signature.text);
    return out;
}

}  // namespace

class Registration : public HostFixture {};

TEST_F(Registration, TheTableInOrderWithItsExactStrings) {
    EXPECT_EQ(Registered(host), kSignatures);
    EXPECT_EQ(host.FunctionNames(), Names());
    EXPECT_EQ(TakeResults(), "");
}

TEST_F(Registration, ShutdownWithdrawsEveryFunctionLastRegisteredFirst) {
    host.RunModule();
    host.CleanupModule();
    EXPECT_EQ(host.FunctionNames().size(), 23u);
    host.ShutdownModule();
    EXPECT_TRUE(host.FunctionNames().empty());
    EXPECT_EQ(host.WithdrawalLog(), Reversed(Names()));
    EXPECT_THROW(host.Call("FakeESC", {}), orvanhost::CallError);
}

TEST_F(Registration, ANewStartResetsTheVerbosity) {
    host.Call("SetORVANverbosity", {orvanhost::Arg::Number(4)});
    EXPECT_EQ(log_threshold, 4);
    host.ShutdownModule();
    host.StartModule();
    EXPECT_EQ(log_threshold, 0);
    EXPECT_EQ(host.FunctionNames(), Names());
}

TEST_F(Registration, ARefusedRegistrationEndsStartAndKeepsTheEarlierOnes) {
    host.ShutdownModule();
    host.FailOnce("AddFunction", "registry full", 4);
    try {
        host.StartModule();
        FAIL() << "start-up reported nothing";
    } catch (const orvanhost::HostError& e) {
        EXPECT_EQ(e.code(), HOST_ERROR_HOST_FUNCTION);
        EXPECT_EQ(e.text(), "registry full");
    }
    const std::vector<std::string> all = Names();
    EXPECT_EQ(host.FunctionNames(), std::vector<std::string>(all.begin(), all.begin() + 4));
}

TEST(VersionCheck, AnOlderHostOrNoHostGets28802AndNothingRegistered) {
    orvanhost::HostProgram host;
    host.SetVersion(0x03090000);
    try {
        host.AttachModule(orvan_test::InProcessModule());
        FAIL() << "an old host was accepted";
    } catch (const orvanhost::HostError& e) {
        EXPECT_EQ(e.code(), 28802);
        EXPECT_EQ(e.text(), "This plugin requires host 3.10.0 or later.");
    }
    EXPECT_TRUE(host.FunctionNames().empty());
    // The word is compared unsigned: 0xFFFF0000 is a very new host.
    host.SetVersion(0xFFFF0000u);
    host.StartModule();
    EXPECT_EQ(host.FunctionNames().size(), 23u);
    host.ShutdownModule();

    EXPECT_EQ(host.StartModuleUnlinked(), 28802);
    EXPECT_TRUE(host.FunctionNames().empty());
    host.SetVersion(0x030A0000);
    host.StartModule();
    EXPECT_EQ(host.FunctionNames().size(), 23u);
    host.ShutdownModule();
}

TEST(LoadedModule, ListsTheFunctionsAndRunsThemThroughDlopen) {
    orvanhost::HostProgram host;
    host.LoadModule(orvan_test::ModulePath());
    EXPECT_EQ(Registered(host), kSignatures);
    // The module has statics of its own, apart from this program's copy.
    host.Call("SetORVANverbosity", {orvanhost::Arg::Number(2.9)});
    EXPECT_EQ(host.ResultsText(), "set log_threshold to 2\n");
    EXPECT_EQ(log_threshold, 0);
    host.SetKeyDown(1, true);
    EXPECT_EQ(host.Call("GetMouseState", {orvanhost::Arg::Text("lm")}), 1.0);
    host.ShutdownModule();
    EXPECT_EQ(host.WithdrawalLog(), Reversed(Names()));
}

TEST(LoadedModule, UnloadingWithoutShutdownWithdrawsLastRegisteredFirst) {
    orvanhost::HostProgram host;
    host.LoadModule(orvan_test::ModulePath());
    ASSERT_EQ(host.FunctionNames().size(), 23u);
    host.UnloadModule();
    EXPECT_EQ(host.WithdrawalLog(), Reversed(Names()));
    EXPECT_TRUE(host.FunctionNames().empty());
    // Loading again starts from fresh statics.
    host.LoadModule(orvan_test::ModulePath());
    EXPECT_EQ(host.FunctionNames().size(), 23u);
}

TEST(LoadedModule, AnOldHostLoadsTheModuleButGetsNoFunctions) {
    orvanhost::HostProgram host;
    host.SetVersion(0x02000000);
    EXPECT_THROW(host.LoadModule(orvan_test::ModulePath()), orvanhost::HostError);
    EXPECT_TRUE(host.HasModule());
    EXPECT_TRUE(host.FunctionNames().empty());
}
