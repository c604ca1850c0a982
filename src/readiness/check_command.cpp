#include "readiness/check_command.h"

#include "app/diagnostic_log.h"
#include "app/dispatcher.h"
#include "app/result_line.h"
#include "displays/display_enumeration.h"
#include "platform/console.h"
#include "platform/platform.h"

#include <exception>
#include <ostream>

namespace nimbo {

nlohmann::json BuildNimboCheckJson(const std::vector<NimboCandidate>& candidates,
                                   const std::vector<CameraRecoveryCandidate>& recovery) {
    auto document = nlohmann::json::object();
    if (!recovery.empty()) {
        auto list = nlohmann::json::array();
        for (const auto& candidate : recovery) {
            list.push_back({{"instanceId", candidate.instanceId},
                            {"location", candidate.location},
                            {"locationId", candidate.locationId},
                            {"productId", candidate.productId},
                            {"reason", candidate.reason},
                            {"vendorId", candidate.vendorId}});
        }
        document["cameraRecoveryCandidates"] = std::move(list);
    }
    auto list = nlohmann::json::array();
    for (const auto& candidate : candidates) {
        nlohmann::json camera = {{"ready", candidate.cameraReady}};
        if (candidate.cameraReady) {
            camera["cameraId"] = candidate.cameraId;
            camera["serialNumber"] = candidate.serialNumber;
        }
        const auto& shown = candidate.display;
        nlohmann::json display = {{"ready", shown.ready}};
        if (shown.ready) {
            display["displayIndex"] = shown.displayIndex;
            display["friendlyName"] = shown.friendlyName;
            display["height"] = shown.height;
            display["manufacturerCode"] = shown.manufacturerCode;
            display["refreshRate"] = shown.refreshRate;
            display["width"] = shown.width;
        }
        list.push_back({{"camera", std::move(camera)},
                        {"display", std::move(display)},
                        {"id", candidate.id},
                        {"ready", candidate.ready}});
    }
    document["candidates"] = std::move(list);
    return document;
}

int RunNimboCheck(lenticor::Platform& platform) {
    auto& err = platform.console.Err();
    try {
        lenticor::DiagnosticLog log(err, platform.clock);
        const auto displays = EnumerateDisplays(platform, log);
        CameraProbeContext context{platform, log};
        const auto camera = ProbeNimboCamera(context);
        const auto candidates = PairNimboCandidates(camera, ListNimboDisplays(displays));
        const auto recovery =
            FindCameraRecoveryCandidates(ListPresentUsbDevices(platform.configManager));
        auto& out = platform.console.Out();
        lenticor::WriteResultLine(out, "[VXNimboCheck]", BuildNimboCheckJson(candidates, recovery),
                                  lenticor::Utf8Handling::Strict);
        return lenticor::kExitSuccess;
    } catch (const std::exception& error) {
        err << "Error checking Nimbo readiness: " << error.what() << std::endl;
        return lenticor::kExitFailure;
    }
}

}  // namespace nimbo
