#include "displays/list_displays_command.h"

#include "display_test_machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <streambuf>

namespace lenticor::testing {
namespace {

using ::testing::EndsWith;

TEST(ListDisplaysCommand, OneLaptopPanelIsInternalAndPrimary) {
    auto document =
        OneAdapter({Output(0, 0, 1920, 1080,
                           Monitor("LPN0A81", "Generic PnP Monitor", {{"name", "Laptop Panel"}}))},
                   "Simulated GPU");
    document["adapters"][0]["outputs"][0]["outputTechnology"] = "internal";
    DisplayTestMachine pc(document);
    EXPECT_EQ(nimbo::ListDisplaysCommand(pc.platform()), 0);
    EXPECT_EQ(pc.Out(),
              "[VXDisplayList]{\"displays\":[{\"adapterIndex\":0,\"adapterName\":\"Simulated "
              "GPU\",\"friendlyName\":\"Laptop Panel\",\"height\":1080,\"index\":0,\"isCloned\":"
              "false,\"isPrimary\":true,\"manufacturerCode\":\"LPN0A81\",\"name\":\"\\\\\\\\.\\\\"
              "DISPLAY1\",\"refreshRate\":60,\"width\":1920}],\"topology\":\"internal\"}\n");
}

TEST(ListDisplaysCommand, TwoOutputsAtOnePositionAreBothClonedAndPrimary) {
    DisplayTestMachine pc(
        OneAdapter({Output(0, 0, 1920, 1080, nullptr), Output(0, 0, 1920, 1080, nullptr)}));
    EXPECT_EQ(nimbo::ListDisplaysCommand(pc.platform()), 0);
    const auto result =
        nlohmann::json::parse(pc.Out().substr(std::string("[VXDisplayList]").size()));
    EXPECT_EQ(result["topology"], "clone");
    for (const auto& display : result["displays"]) {
        EXPECT_EQ(display["isCloned"], true);
        EXPECT_EQ(display["isPrimary"], true);
    }
}

TEST(ListDisplaysCommand, NoDisplaysIsAnErrorWithoutResultLine) {
    auto document = OneAdapter({Output(0, 0, 1920, 1080, nullptr)});
    document["faults"] = {{"CreateDXGIFactory1", "0x887A0004"}};
    DisplayTestMachine pc(document);
    EXPECT_EQ(nimbo::ListDisplaysCommand(pc.platform()), 1);
    EXPECT_EQ(pc.Out(), "");
    EXPECT_THAT(pc.Err(), EndsWith("(HRESULT: 0x887a0004)\nError: No displays found\n"));
}

// A stream buffer that refuses every byte, as a closed pipe would.
class RefusingBuffer final : public std::streambuf {
  protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(ListDisplaysCommand, AStandardExceptionBecomesOneLineAndExitCodeOne) {
    DisplayTestMachine pc(OneAdapter({Output(0, 0, 1920, 1080, nullptr)}));
    RefusingBuffer refusing;
    pc.console().out.std::ostream::rdbuf(&refusing);
    pc.console().out.exceptions(std::ios::badbit);
    EXPECT_EQ(nimbo::ListDisplaysCommand(pc.platform()), 1);
    const auto err = pc.Err();
    const auto last = err.rfind("Error enumerating displays: ");
    ASSERT_NE(last, std::string::npos) << err;
    EXPECT_EQ(err.find('\n', last), err.size() - 1) << "one line, and it is the last";
}

}  // namespace
}  // namespace lenticor::testing
