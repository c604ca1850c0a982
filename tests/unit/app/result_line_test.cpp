#include "app/result_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lenticor {
namespace {

TEST(ResultLine, IsTagThenCompactSortedJsonWithRawUtf8ThenLineFeed) {
    const nlohmann::json result = {
        {"success", false}, {"count", 3u}, {"nested", {{"z", -1}, {"a", "\xc3\xbc \"q\" \\ \t"}}}};
    std::ostringstream out;
    WriteResultLine(out, "[VXTag]", result, Utf8Handling::Strict);
    EXPECT_EQ(out.str(),
              "[VXTag]{\"count\":3,\"nested\":{\"a\":\"\xc3\xbc \\\"q\\\" \\\\ \\t\",\"z\":-1},"
              "\"success\":false}\n");
}

TEST(ResultLine, InvalidUtf8IsReplacedOrRejectedWithoutHalfALine) {
    const nlohmann::json result = {{"name", "a\xff"}};
    EXPECT_EQ(SerializeResult(result, Utf8Handling::Replace), "{\"name\":\"a\xef\xbf\xbd\"}");
    std::ostringstream out;
    EXPECT_THROW(WriteResultLine(out, "[VXTag]", result, Utf8Handling::Strict),
                 nlohmann::json::type_error);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace lenticor
