#include "desktop/desktop_fake.h"

#include <cstdio>
#include <stdexcept>

#include "app/monitor_identity.h"
#include "app/text.h"
#include "desktop/detach_plan.h"
#include "desktop/snapshot_codec.h"

namespace nimbo::test {
namespace {

std::string LowerUtf8(const std::wstring& text) {
    return lenticor::WideToUtf8(lenticor::ToLowerWide(text));
}

bool SameId(const std::wstring& a, const std::wstring& b) {
    return lenticor::ToLowerWide(a) == lenticor::ToLowerWide(b);
}

}  // namespace

const char* OpName(Op op) {
    static const char* const kNames[] = {"loadJournal",
                                         "saveJournal",
                                         "deleteJournal",
                                         "captureTopology",
                                         "targetKeyForDisplayId",
                                         "enumerateNimboTargets",
                                         "planDetach",
                                         "validateTopology",
                                         "applyTopology",
                                         "verifyIdentity",
                                         "sameSurvivors",
                                         "recoveryRevision",
                                         "archiveJournal",
                                         "darken"};
    return kNames[static_cast<int>(op)];
}

std::string RevisionOfText(const std::string& text) {
    // Four differently seeded FNV-1a passes: not cryptographic, but any edit
    // changes the revision, which is all the engine relies on.
    std::string out;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        std::uint64_t hash = 0xcbf29ce484222325ull ^ seed;
        for (const char c : text)
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
        char buffer[17];
        std::snprintf(buffer, sizeof(buffer), "%016llx", static_cast<unsigned long long>(hash));
        out += buffer;
    }
    return out;
}

DesktopResult FakeDesktop::Run(const DesktopRequest& request) {
    calls.clear();
    captures_ = 0;
    return RunDesktopEngine(request, Operations());
}

Monitor& FakeDesktop::Find(const std::string& model, std::uint32_t targetId) {
    for (auto& m : monitors) {
        if (m.model == model && m.targetId == targetId)
            return m;
    }
    throw std::logic_error("no such monitor in the fake machine");
}

std::string FakeDesktop::Revision() const {
    return journal ? RevisionOfText(*journal) : std::string("absent");
}

const Monitor* FakeDesktop::OwnerOf(const std::string& key) const {
    for (const auto& m : monitors) {
        if (LowerUtf8(InterfacePathOf(m)) == KeyInterfacePart(key))
            return &m;
    }
    return nullptr;
}

std::vector<DesktopTarget> FakeDesktop::Enumerate(const DesktopTopology& topology) const {
    std::vector<DesktopTarget> targets;
    for (const auto& m : monitors) {
        if (!IsNimboModelId(lenticor::Utf8ToWideStrict(m.model).value()) || !m.active)
            continue;
        const std::string prefix = LowerUtf8(InterfacePathOf(m)) + "|";
        for (const auto& entry : topology.targets) {
            if (entry.active && entry.available && entry.key.rfind(prefix, 0) == 0) {
                targets.push_back({DisplayIdOf(m), entry.key});
            }
        }
    }
    return targets;
}

template <typename R, typename F>
R FakeDesktop::Call(Op op, R falsy, F&& real) {
    const std::size_t position = calls.size();
    calls.push_back(op);
    if (fault && fault->position == position) {
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
        return Call<std::optional<DesktopJournal>>(Op::LoadJournal, std::nullopt, [this] {
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
        return Call(Op::SaveJournal, false, [&] {
            if (savesAllowed == 0)
                return false;
            if (savesAllowed > 0)
                --savesAllowed;
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
        return Call(Op::DeleteJournal, false, [this] {
            if (!deleteOk)
                return false;
            if (journal) {
                const Monitor* owner = OwnerOf(ParseJournal(*journal).targetKey);
                if (owner == nullptr || !owner->active) {
                    violations.push_back(
                        "deleteJournal while the owned display is off the desktop");
                }
            }
            journal.reset();
            ++deletes;
            return true;
        });
    };
    ops.captureTopology = [this] {
        return Call(Op::CaptureTopology, DesktopTopology{}, [this] {
            const int index = captures_++;
            if (auto hook = beforeCapture.find(index); hook != beforeCapture.end())
                hook->second(*this);
            return Capture();
        });
    };
    ops.targetKeyForDisplayId = [this](const std::wstring& displayId) {
        return Call(Op::TargetKeyForDisplayId, std::string(), [&] {
            std::string key;
            int matches = 0;
            for (const auto& target : Enumerate(Capture())) {
                if (SameId(target.displayId, displayId)) {
                    key = target.targetKey;
                    ++matches;
                }
            }
            return matches == 1 ? key : std::string();
        });
    };
    ops.enumerateNimboTargets = [this](const DesktopTopology& topology) {
        return Call(Op::EnumerateNimboTargets, std::vector<DesktopTarget>(),
                    [&] { return Enumerate(topology); });
    };
    ops.planDetach = [this](const DesktopTopology& topology, const std::string& key) {
        return Call(Op::PlanDetach, DesktopTopology{}, [&] { return PlanDetach(topology, key); });
    };
    ops.validateTopology = [this](const DesktopTopology& topology) {
        return Call(Op::ValidateTopology, false,
                    [&] { return validateOk && !DecodeTopologySnapshot(topology).paths.empty(); });
    };
    ops.applyTopology = [this](const DesktopTopology& topology) {
        return Call(Op::ApplyTopology, false, [&] {
            if (!journal)
                violations.push_back("applyTopology without a saved journal");
            const DesktopSnapshot snapshot = DecodeTopologySnapshot(topology);
            if (!applyOk || snapshot.paths.empty())
                return false;
            for (auto& m : monitors) {
                m.active = false;
                for (const auto& path : snapshot.paths) {
                    if (path.targetInfo.adapterId.LowPart != m.adapter ||
                        path.targetInfo.id != m.targetId) {
                        continue;
                    }
                    if (!m.available)
                        return false;
                    const auto& source = snapshot.modes[path.sourceInfo.modeInfoIdx].sourceMode;
                    m.active = true;
                    m.sourceId = path.sourceInfo.id;
                    m.x = source.position.x;
                    m.y = source.position.y;
                    m.width = source.width;
                    m.height = source.height;
                }
            }
            if (afterApply)
                afterApply(monitors);
            return true;
        });
    };
    ops.verifyIdentity = [this](const std::wstring& displayId, const std::string& key) {
        return Call(Op::VerifyIdentity, false, [&] {
            const Monitor* owner = OwnerOf(key);
            return owner != nullptr && !owner->identityBroken &&
                   IsNimboModelId(lenticor::Utf8ToWideStrict(owner->model).value()) &&
                   SameId(DisplayIdOf(*owner), displayId);
        });
    };
    ops.sameSurvivors = [this](const DesktopTopology& a, const DesktopTopology& b) {
        return Call(Op::SameSurvivors, false, [&] { return SameSurvivors(a, b); });
    };
    ops.recoveryRevision = [this] {
        return Call(Op::RecoveryRevision, std::string(),
                    [this] { return revisionOverride.value_or(loadedRevision_); });
    };
    ops.archiveJournal = [this](const std::string& expected) {
        return Call(Op::ArchiveJournal, DesktopArchiveResult::Failed, [&] {
            if (archiveOverride)
                return *archiveOverride;
            if (!journal) {
                return expected == "absent" ? DesktopArchiveResult::AlreadyAbsent
                                            : DesktopArchiveResult::Changed;
            }
            if (RevisionOfText(*journal) != expected)
                return DesktopArchiveResult::Changed;
            try {
                const Monitor* owner = OwnerOf(ParseJournal(*journal).targetKey);
                if (owner != nullptr && owner->available) {
                    violations.push_back("archiveJournal while the owned display is attached");
                }
            } catch (const std::exception&) {
                // A corrupt journal names no display to protect.
            }
            archived.push_back(*journal);
            ++archives;
            journal.reset();
            return DesktopArchiveResult::Archived;
        });
    };
    ops.darken = [this] {
        return Call(Op::Darken, false, [this] {
            ++darkenCount;
            return darkenOk;
        });
    };
    return ops;
}

const std::vector<CodeMessage>& EngineFailures() {
    static const std::vector<CodeMessage> kPairs = {
        {"DESKTOP_OWNERSHIP_CONFLICT", "another exact target owns the desktop journal"},
        {"DESKTOP_IDENTITY_CHANGED",
         "the journal interface does not belong to the exact Nimbo display ID"},
        {"DESKTOP_TARGET_AMBIGUOUS", "multiple active Nimbo targets require an exact display-id"},
        {"DESKTOP_IDENTITY_CHANGED", "active Nimbo identity does not match its desktop path"},
        {"DESKTOP_TARGET_NOT_FOUND", "the requested exact Nimbo is not an active target"},
        {"DESKTOP_TARGET_NOT_FOUND", "no exact active Nimbo or owned recovery target was found"},
        {"DESKTOP_RECOVERY_CHANGED", "recovery record changed; read status and confirm again"},
        {"DESKTOP_RECOVERY_UNSAFE",
         "archive requires the old target to be absent and one verified active Nimbo with no "
         "inactive Nimbo"},
        {"DESKTOP_IDENTITY_CHANGED", "display identity changed before recovery archive"},
        {"DESKTOP_RECOVERY_CHANGED", "recovery record changed before archive; confirm again"},
        {"DESKTOP_ARCHIVE_FAILED", "recovery archive failed; original record retained"},
        {"DESKTOP_NOT_OWNED", "darken requires a Nimbo owned by a valid journal"},
        {"DESKTOP_TARGET_INACTIVE", "darken requires the owned Nimbo to be active"},
        {"DESKTOP_NOT_ONLY_DISPLAY", "darken is only for a Nimbo that is the only active display"},
        {"DESKTOP_DARKEN_FAILED", "the display-off request was not issued"},
        {"DESKTOP_IDENTITY_CHANGED", "active target changed before ownership retirement"},
        {"DESKTOP_JOURNAL_FAILED", "could not release desktop ownership"},
        {"DESKTOP_IDENTITY_CHANGED", "active target changed before new detach"},
        {"DESKTOP_IDENTITY_CHANGED", "active replacement identity does not match its desktop path"},
        {"DESKTOP_RECOVERY_CHANGED",
         "valid ownership has no bound recovery revision; journal retained"},
        {"DESKTOP_IDENTITY_CHANGED", "display identity changed before reconnect archive"},
        {"DESKTOP_RECOVERY_CHANGED",
         "recovery record changed before reconnect archive; journal retained"},
        {"DESKTOP_TARGET_ABSENT", "the exact owned target is not currently available"},
        {"DESKTOP_TOPOLOGY_CHANGED",
         "remaining desktop paths changed; saved topology was not applied"},
        {"DESKTOP_VALIDATE_FAILED", "saved exact target cannot be safely reactivated"},
        {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before restore"},
        {"DESKTOP_IDENTITY_CHANGED", "the owned target identity changed before restore"},
        {"DESKTOP_APPLY_FAILED", "restore failed; journal retained"},
        {"DESKTOP_VERIFY_FAILED", "restored desktop was not confirmed; journal retained"},
        {"DESKTOP_JOURNAL_FAILED", "desktop restored but ownership could not be released"},
        {"DESKTOP_TARGET_ABSENT", "the owned Nimbo is no longer physically available"},
        {"DESKTOP_RECOVERY_PENDING", "resolve the existing journal before another detach"},
        {"DESKTOP_ONLY_DISPLAY", "cannot remove the only active desktop display"},
        {"DESKTOP_UNSUPPORTED_TOPOLOGY", "cannot safely remove this target"},
        {"DESKTOP_VALIDATE_FAILED", "target removal could not be validated"},
        {"DESKTOP_TOPOLOGY_CHANGED", "desktop changed before detach"},
        {"DESKTOP_JOURNAL_FAILED", "could not persist recovery before detach"},
        {"DESKTOP_TOPOLOGY_CHANGED",
         "desktop changed while recovery was persisted; journal retained"},
        {"DESKTOP_APPLY_FAILED", "detach failed; recovery journal retained"},
        {"DESKTOP_JOURNAL_FAILED",
         "detach differed from plan and its observed recovery baseline could not be persisted; "
         "original journal retained"},
        {"DESKTOP_VERIFY_FAILED", "desktop detach was not confirmed; recovery journal retained"},
    };
    return kPairs;
}

}  // namespace nimbo::test
