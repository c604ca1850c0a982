#include "app/result_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lenticor {
namespace {

TEST(ResultLine, IsTagThenCompactSortedJsonThenLineFeed) {
    nlohmann::json result;
    result["success"] = false;
    result["action"] = "detach";
    result["errorCode"] = "DESKTOP_BUSY";
    result["count"] = 3u;
    result["nested"] = {{"z", -1}, {"a", "x"}};
    std::ostringstream out;
    WriteResultLine(out, "[VXNimboDesktop]", result, Utf8Handling::Strict);
    EXPECT_EQ(out.str(),
              "[VXNimboDesktop]{\"action\":\"detach\",\"count\":3,\"errorCode\":\"DESKTOP_BUSY\","
              "\"nested\":{\"a\":\"x\",\"z\":-1},\"success\":false}\n");
}

TEST(ResultLine, WritesRawUtf8AndEscapesOnlyWhatJsonRequires) {
    const nlohmann::json result = {{"name", "Bildschirm \xc3\xbc \"q\" \\ \t"}};
    EXPECT_EQ(SerializeResult(result, Utf8Handling::Strict),
              "{\"name\":\"Bildschirm \xc3\xbc \\\"q\\\" \\\\ \\t\"}");
}

TEST(ResultLine, InvalidUtf8IsReplacedOrRejectedAsTheCommandChooses) {
    const nlohmann::json result = {{"name",
                                    "a\xff"
                                    "b"}};
    EXPECT_EQ(SerializeResult(result, Utf8Handling::Replace),
              "{\"name\":\"a\xef\xbf\xbd"
              "b\"}");
    EXPECT_THROW((void)SerializeResult(result, Utf8Handling::Strict), nlohmann::json::type_error);

    // A strict failure must not leave half a line on stdout.
    std::ostringstream out;
    EXPECT_THROW(WriteResultLine(out, "[VXDisplayList]", result, Utf8Handling::Strict),
                 nlohmann::json::type_error);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace lenticor
