#include "gl_present_method/present_method_result.h"

#include "app/result_line.h"
#include "app/text.h"
#include "gl_present_method/driver_profiles.h"
#include "platform/nvapi_records.h"

#include <utility>

namespace lenticor::gl_present_method {

nlohmann::json PresentMethodResultToJson(const PresentMethodResult& result) {
    nlohmann::json json = {
        {"action", std::string(PresentMethodActionName(result.action))},
        {"changed", result.changed},
        {"exe", WideToUtf8(result.exe)},
        {"profile", result.profile},
        {"success", result.success},
        {"undoPending", result.undoPending},
    };
    if (!result.api.empty()) {
        json["api"] = result.api;
    }
    lenticor::AddErrorMembers(json, result.errorCode, result.errorMessage);
    if (result.sharedProfile) {
        json["sharedProfile"] = true;
    }
    if (result.value) {
        json["value"] = *result.value;
    }
    return json;
}

void FailResult(PresentMethodResult& result, std::string errorCode, std::string errorMessage) {
    result.success = false;
    result.errorCode = std::move(errorCode);
    result.errorMessage = std::move(errorMessage);
}

void FailResultWithDriverStatus(PresentMethodResult& result, const IDriverProfiles& driver,
                                std::string errorCode, std::string errorMessage) {
    const std::int32_t status = driver.LastStatus();
    if (status == nvapi::kInvalidUserPrivilege) {
        errorCode = "ELEVATION_REQUIRED";
    }
    if (status != nvapi::kOk) {
        errorMessage += " (NvAPI status " + std::to_string(status) + ")";
    }
    FailResult(result, std::move(errorCode), std::move(errorMessage));
}

void WritePresentMethodResult(std::ostream& out, const PresentMethodResult& result) {
    WriteResultLine(out, kPresentMethodResultTag, PresentMethodResultToJson(result),
                    Utf8Handling::Replace);
}

}  // namespace lenticor::gl_present_method
