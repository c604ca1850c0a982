#include "app/result_line.h"

namespace lenticor {

void AddErrorMembers(nlohmann::json& result, const std::string& code, const std::string& message) {
    if (!code.empty()) {
        result["errorCode"] = code;
        result["errorMessage"] = message;
    }
}

std::string SerializeResult(const nlohmann::json& result, Utf8Handling handling) {
    return result.dump(-1, ' ', false,
                       handling == Utf8Handling::Strict ? nlohmann::json::error_handler_t::strict
                                                        : nlohmann::json::error_handler_t::replace);
}

void WriteResultLine(std::ostream& out, std::string_view tag, const nlohmann::json& result,
                     Utf8Handling handling) {
    // Serialise before writing so a strict-mode failure leaves stdout untouched.
    const auto text = SerializeResult(result, handling);
    out << tag << text << std::endl;
}

}  // namespace lenticor
