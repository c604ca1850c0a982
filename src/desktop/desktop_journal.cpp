#include "desktop/desktop_journal.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/monitor_identity.h"
#include "app/text.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo {
namespace {

DesktopTopology TopologyMember(const nlohmann::json& document, const char* member) {
    return BuildDesktopTopology(DecodeSnapshot(document.at(member).get<std::string>()));
}

bool KeyNamesModel(const std::string& targetKey, const std::wstring& model) {
    // Fold the key the same way keys are built, so a non-ASCII spelling cannot
    // slip past a byte-wise comparison.
    const auto wideKey = lenticor::Utf8ToWideStrict(targetKey);
    if (!wideKey)
        return false;
    const std::string key = lenticor::WideToUtf8(lenticor::ToLowerWide(*wideKey));
    const std::string prefix =
        lenticor::WideToUtf8(L"\\\\?\\display#" + lenticor::ToLowerWide(model) + L"#");
    return key.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string SerializeJournal(const DesktopJournal& journal) {
    nlohmann::json document = {
        {"after", journal.after.snapshot},
        {"before", journal.before.snapshot},
        {"displayId", lenticor::WideToUtf8(journal.displayId)},
        {"targetKey", journal.targetKey},
        {"version", 1},
    };
    if (journal.observedAfter)
        document["observedAfter"] = journal.observedAfter->snapshot;
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

DesktopJournal ParseJournal(std::string_view text) {
    return ParseJournalJson(nlohmann::json::parse(text));
}

DesktopJournal ParseJournalJson(const nlohmann::json& document) {
    const auto& version = document.at("version");
    if (!version.is_number() || version.get<double>() != 1.0) {
        throw std::runtime_error("desktop journal version unsupported");
    }
    DesktopJournal journal;
    auto displayId = lenticor::Utf8ToWideStrict(document.at("displayId").get<std::string>());
    if (!displayId)
        throw std::runtime_error("invalid UTF-8 in desktop journal");
    journal.displayId = std::move(*displayId);
    journal.targetKey = document.at("targetKey").get<std::string>();
    journal.before = TopologyMember(document, "before");
    journal.after = TopologyMember(document, "after");

    const std::wstring model = ModelIdFromHardwareId(journal.displayId);
    if (!IsNimboModelId(model))
        throw std::runtime_error("journal target is not a Nimbo");
    if (!KeyNamesModel(journal.targetKey, model)) {
        throw std::runtime_error("journal interface is not the declared Nimbo manufacturer");
    }
    const DesktopTopology plan = PlanTargetRemoval(journal.before, journal.targetKey);
    if (plan.targets.empty() || plan.snapshot != journal.after.snapshot) {
        throw std::runtime_error("desktop journal is not a valid single-target removal");
    }
    if (document.contains("observedAfter")) {
        journal.observedAfter = TopologyMember(document, "observedAfter");
        if (!SameSurvivors(journal.after, *journal.observedAfter)) {
            throw std::runtime_error(
                "observed desktop recovery changes survivor identities or modes");
        }
    }
    return journal;
}

}  // namespace nimbo
