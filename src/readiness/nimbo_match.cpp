#include "readiness/nimbo_match.h"

#include "app/text.h"

#include <set>

namespace nimbo {
namespace {

bool Contains(const std::wstring& text, std::wstring_view part) {
    return text.find(part) != std::wstring::npos;
}

}  // namespace

NimboDisplayClass ClassifyNimboDisplay(const DisplayInfo& display) {
    const auto& model = display.manufacturerCode;
    if (Contains(display.friendlyName, L"Korvo Nimbo") || model == L"KZV1A07" ||
        model == L"KZV2B09") {
        return NimboDisplayClass::Exact;
    }
    if (model.size() >= 3 && model.compare(0, 3, L"KZV") == 0 &&
        Contains(display.friendlyName, L"UHD")) {
        return NimboDisplayClass::Backup;
    }
    return NimboDisplayClass::None;
}

std::vector<NimboDisplay> ListNimboDisplays(const std::vector<DisplayInfo>& displays) {
    std::vector<NimboDisplay> nimbos;
    for (const auto& display : displays) {
        if (ClassifyNimboDisplay(display) == NimboDisplayClass::None) {
            continue;
        }
        nimbos.push_back({.displayIndex = display.index,
                          .friendlyName = lenticor::WideToUtf8(display.friendlyName),
                          .manufacturerCode = lenticor::WideToUtf8(display.manufacturerCode),
                          .width = RectWidth(display.desktopRect),
                          .height = RectHeight(display.desktopRect),
                          .refreshRate = display.refreshRate,
                          .ready = true});
    }
    return nimbos;
}

std::vector<NimboCandidate> PairNimboCandidates(const NimboCamera& camera,
                                                const std::vector<NimboDisplay>& displays) {
    std::vector<NimboCandidate> candidates;
    const auto giveCamera = [&camera](NimboCandidate& candidate) {
        candidate.cameraReady = true;
        candidate.serialNumber = camera.serialNumber;
        candidate.cameraId = camera.cameraId;
        if (!camera.serialNumber.empty()) {
            candidate.id = "nimbo:" + camera.serialNumber;
        }
    };
    if (camera.present && displays.empty()) {
        NimboCandidate candidate;
        giveCamera(candidate);
        candidates.push_back(std::move(candidate));
        return candidates;
    }
    for (const auto& display : displays) {
        NimboCandidate candidate;
        candidate.display = display;
        if (camera.present && candidates.empty()) {
            giveCamera(candidate);
            candidate.ready = !camera.serialNumber.empty();
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

NimboTargetMatch MatchNimboTarget(const std::vector<DisplayInfo>& displays, bool targetNamed) {
    std::vector<std::size_t> exact;
    std::vector<std::size_t> backup;
    std::set<std::wstring> seenNames;
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const auto kind = ClassifyNimboDisplay(displays[i]);
        if (kind == NimboDisplayClass::None) {
            continue;
        }
        // The same output enumerated twice counts once; nameless records
        // cannot be told apart and all count.
        const auto& name = displays[i].name;
        if (!name.empty() && !seenNames.insert(name).second) {
            continue;
        }
        (kind == NimboDisplayClass::Exact ? exact : backup).push_back(i);
    }
    const bool useExact = !exact.empty();
    const auto& chosen = useExact ? exact : backup;
    NimboTargetMatch match;
    if (chosen.empty()) {
        match.errorCode = "NO_NIMBO_TARGET";
        match.errorMessage = "No Nimbo display found";
        return match;
    }
    if (chosen.size() == 1) {
        match.position = static_cast<std::int32_t>(chosen.front());
        return match;
    }
    match.errorCode = "AMBIGUOUS_NIMBO_TARGET";
    match.errorMessage =
        targetNamed ? "Multiple Nimbo displays found; cannot match by serial without camera"
                    : "Multiple Nimbo displays found; specify nimbo:<id>";
    auto& message = match.errorMessage;
    message.append(" (").append(std::to_string(chosen.size()));
    message.append(useExact ? " exact" : " backup").append(" matches:");
    for (const auto position : chosen) {
        message.append(" ").append(lenticor::WideToUtf8(displays[position].manufacturerCode));
        message.append("/").append(lenticor::WideToUtf8(displays[position].friendlyName));
    }
    message.append(")");
    return match;
}

}  // namespace nimbo
