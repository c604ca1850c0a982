#include "desktop/desktop_fake.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "app/monitor_identity.h"
#include "app/text.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

// clang-format off
std::string LowerUtf8(const std::wstring& text) { return lenticor::WideToUtf8(lenticor::ToLowerWide(text)); }
bool SameId(const std::wstring& a, const std::wstring& b) { return lenticor::ToLowerWide(a) == lenticor::ToLowerWide(b); }
bool IsNimbo(const Monitor& m) { return IsNimboModelId(lenticor::Utf8ToWideStrict(m.model).value()); }
// clang-format on

}  // namespace

DesktopResult FakeDesktop::Run(const DesktopRequest& request) {
    calls.clear();
    captures_ = 0;
    return RunDesktopEngine(request, Operations());
}

Monitor& FakeDesktop::Find(const std::string& model, std::uint32_t targetId) {
    for (auto& m : monitors)
        if (m.model == model && m.targetId == targetId)
            return m;
    throw std::logic_error("no such monitor in the fake machine");
}

std::string FakeDesktop::Revision() const {
    if (!journal)
        return "absent";
    // Any edit changes the revision, which is all the engine relies on.
    const std::string hash = std::to_string(std::hash<std::string>()(*journal));
    return std::string(64 - hash.size(), '0') + hash;
}

const Monitor* FakeDesktop::OwnerOf(const std::string& key) const {
    for (const auto& m : monitors)
        if (LowerUtf8(InterfacePathOf(m)) == KeyInterfacePart(key))
            return &m;
    return nullptr;
}

std::vector<DesktopTarget> FakeDesktop::Enumerate(const DesktopTopology& topology) const {
    std::vector<DesktopTarget> targets;
    for (const auto& m : monitors) {
        if (!IsNimbo(m) || !m.active)
            continue;
        const std::string prefix = LowerUtf8(InterfacePathOf(m)) + "|";
        for (const auto& entry : topology.targets)
            if (entry.active && entry.available && entry.key.rfind(prefix, 0) == 0)
                targets.push_back({DisplayIdOf(m), entry.key});
    }
    return targets;
}

template <typename R, typename F>
R FakeDesktop::Call(const char* op, R falsy, F&& real) {
    const auto nth = std::count(calls.begin(), calls.end(), op);
    calls.push_back(op);
    if (fault && fault->op == op && fault->nth == nth) {
        if (fault->throws)
            throw std::runtime_error(kInjectedFailure);
        return falsy;
    }
    return real();
}

DesktopOperations FakeDesktop::Operations() {
    using desktop_win::DesktopArchiveResult;
    DesktopOperations ops;
    ops.loadJournal = [this] {
        return Call<std::optional<DesktopJournal>>("loadJournal", std::nullopt, [this] {
            loadedRevision_ = Revision();
            if (!journal)
                return std::optional<DesktopJournal>();
            try {
                return std::optional<DesktopJournal>(ParseJournal(*journal));
            } catch (const std::exception& error) {
                throw DesktopJournalCorrupt(error.what());
            }
        });
    };
    ops.saveJournal = [this](const DesktopJournal& next) {
        return Call("saveJournal", false, [&] {
            if (journal) {
                // Only the observed baseline may be added to a live journal.
                const DesktopJournal old = ParseJournal(*journal);
                if (old.targetKey != next.targetKey ||
                    old.before.snapshot != next.before.snapshot ||
                    old.after.snapshot != next.after.snapshot) {
                    violations.push_back("saveJournal replaced a different live journal");
                }
            }
            journal = SerializeJournal(next);
            ++saves;
            return true;
        });
    };
    ops.deleteJournal = [this] {
        return Call("deleteJournal", false, [this] {
            if (journal) {
                const Monitor* owner = OwnerOf(ParseJournal(*journal).targetKey);
                if (owner == nullptr || !owner->active)
                    violations.push_back("deleteJournal while its display is off the desktop");
            }
            journal.reset();
            ++deletes;
            return true;
        });
    };
    // clang-format off
    ops.captureTopology = [this] {
        return Call("captureTopology", DesktopTopology{}, [this] {
            if (auto hook = beforeCapture.find(captures_++); hook != beforeCapture.end()) hook->second(*this);
            return Capture();
        });
    };
    ops.targetKeyForDisplayId = [this](const std::wstring& displayId) {
        return Call("targetKeyForDisplayId", std::string(), [&] {
            std::vector<std::string> keys;
            for (const auto& target : Enumerate(Capture()))
                if (SameId(target.displayId, displayId)) keys.push_back(target.targetKey);
            return keys.size() == 1 ? keys[0] : std::string();
        });
    };
    ops.enumerateNimboTargets = [this](const DesktopTopology& topology) { return Call("enumerateNimboTargets", std::vector<DesktopTarget>(), [&] { return Enumerate(topology); }); };
    ops.planDetach = [this](const DesktopTopology& topology, const std::string& key) { return Call("planDetach", DesktopTopology{}, [&] { return PlanDetach(topology, key); }); };
    ops.validateTopology = [this](const DesktopTopology& topology) { return Call("validateTopology", false, [&] { return !DecodeTopologySnapshot(topology).paths.empty(); }); };
    ops.sameSurvivors = [this](const DesktopTopology& a, const DesktopTopology& b) { return Call("sameSurvivors", false, [&] { return SameSurvivors(a, b); }); };
    ops.recoveryRevision = [this] { return Call("recoveryRevision", std::string(), [this] { return loadedRevision_; }); };
    ops.darken = [this] { return Call("darken", false, [] { return true; }); };
    // clang-format on
    ops.applyTopology = [this](const DesktopTopology& topology) {
        return Call("applyTopology", false, [&] {
            if (!journal)
                violations.push_back("applyTopology without a saved journal");
            const DesktopSnapshot snapshot = DecodeTopologySnapshot(topology);
            if (snapshot.paths.empty())
                return false;
            for (auto& m : monitors) {
                const bool wasActive = std::exchange(m.active, false);
                for (const auto& path : snapshot.paths) {
                    if (path.targetInfo.adapterId.LowPart != m.adapter ||
                        path.targetInfo.id != m.targetId) {
                        continue;
                    }
                    if (!m.available)
                        return false;
                    const auto& source = snapshot.modes[path.sourceInfo.modeInfoIdx].sourceMode;
                    // A display whose identity changed is not the one the journal owns.
                    if (m.identityBroken && !wasActive)
                        violations.push_back(
                            "applyTopology brought back a display of another identity");
                    m.active = true;
                    m.sourceId = path.sourceInfo.id;
                    std::tie(m.x, m.y, m.width, m.height) =
                        std::tie(source.position.x, source.position.y, source.width, source.height);
                }
            }
            return true;
        });
    };
    // clang-format off
    ops.verifyIdentity = [this](const std::wstring& displayId, const std::string& key) {
        return Call("verifyIdentity", false, [&] { const Monitor* owner = OwnerOf(key); return owner != nullptr && !owner->identityBroken && IsNimbo(*owner) && SameId(DisplayIdOf(*owner), displayId); });
    };
    // clang-format on
    ops.archiveJournal = [this](const std::string& expected) {
        return Call("archiveJournal", DesktopArchiveResult::Failed, [&] {
            if (!journal) {
                return expected == "absent" ? DesktopArchiveResult::AlreadyAbsent
                                            : DesktopArchiveResult::Changed;
            }
            if (Revision() != expected)
                return DesktopArchiveResult::Changed;
            try {
                const Monitor* owner = OwnerOf(ParseJournal(*journal).targetKey);
                if (owner != nullptr && owner->available)
                    violations.push_back("archiveJournal while its display is attached");
            } catch (const std::exception&) {
                // A corrupt journal names no display to protect.
            }
            archived.push_back(*journal);
            journal.reset();
            return DesktopArchiveResult::Archived;
        });
    };
    return ops;
}

}  // namespace nimbo::test
