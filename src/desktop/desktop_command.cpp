#include "desktop/desktop_command.h"

#include <exception>
#include <optional>
#include <ostream>

#include "desktop/desktop_capture.h"
#include "desktop/desktop_engine.h"
#include "desktop/detach_plan.h"
#include "desktop/journal_store.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace nimbo {
namespace {

// Long enough for any path Windows accepts, including the \\?\ forms.
constexpr std::uint32_t kFullPathBufferUnits = 32768;

std::wstring AbsoluteJournalPath(lenticor::Files& files, const std::wstring& stateFile) {
    std::wstring fullPath;
    const std::uint32_t length = files.GetFullPathNameW(stateFile, kFullPathBufferUnits, fullPath);
    if (length == 0 || length >= kFullPathBufferUnits)
        throw std::runtime_error("journal absolute path invalid");
    // The one place the prefix is added: the lock, temporary and archive
    // names derive from this path and need it most, being longer.
    return desktop_win::ExtendedLengthPath(fullPath);
}

bool TakesLock(DesktopAction action) {
    return action != DesktopAction::Status && action != DesktopAction::Darken;
}

DesktopOperations BuildOperations(lenticor::Platform& platform, const std::wstring& journalPath,
                                  std::string& revision) {
    auto& files = platform.files;
    auto& clock = platform.steadyClock;
    auto& crypto = platform.crypto;
    auto& displayConfig = platform.displayConfig;
    auto& displayDevices = platform.displayDevices;
    auto& monitors = platform.monitors;
    auto& configManager = platform.configManager;
    auto& windows = platform.windows;
    auto& err = platform.console.Err();
    DesktopOperations ops;
    ops.loadJournal = [&files, &crypto, journalPath, &revision] {
        return desktop_win::LoadJournal(files, crypto, journalPath, revision);
    };
    ops.saveJournal = [&files, &clock, journalPath](const DesktopJournal& journal) {
        return desktop_win::SaveJournal(files, clock, journalPath, journal);
    };
    ops.deleteJournal = [&files, &clock, journalPath] {
        return desktop_win::DeleteJournal(files, clock, journalPath);
    };
    ops.captureTopology = [&displayConfig] { return CaptureDesktopTopology(displayConfig); };
    ops.targetKeyForDisplayId = [&displayConfig, &monitors,
                                 &displayDevices](const std::wstring& displayId) {
        return TargetKeyForDisplayId(displayConfig, monitors, displayDevices, displayId);
    };
    ops.enumerateNimboTargets = [&monitors, &displayDevices](const DesktopTopology& topology) {
        return EnumerateNimboTargets(monitors, displayDevices, topology);
    };
    ops.planDetach = [](const DesktopTopology& topology, const std::string& key) {
        return PlanDetach(topology, key);
    };
    ops.validateTopology = [&displayConfig, &err](const DesktopTopology& topology) {
        return ApplyDesktopTopology(displayConfig, err, topology, true);
    };
    ops.applyTopology = [&displayConfig, &err](const DesktopTopology& topology) {
        return ApplyDesktopTopology(displayConfig, err, topology, false);
    };
    ops.verifyIdentity = [&configManager](const std::wstring& displayId, const std::string& key) {
        return VerifyTargetIdentity(configManager, displayId, key);
    };
    ops.sameSurvivors = [](const DesktopTopology& a, const DesktopTopology& b) {
        return SameSurvivors(a, b);
    };
    ops.recoveryRevision = [&revision] { return revision; };
    ops.archiveJournal = [&files, &crypto, &clock, journalPath](const std::string& expected) {
        return desktop_win::ArchiveJournal(files, crypto, clock, journalPath, expected);
    };
    ops.darken = [&windows, &err] { return DarkenDisplays(windows, err); };
    return ops;
}

DesktopResult RequestDefaults(const DesktopRequest& request) {
    DesktopResult result;
    result.action = request.action;
    result.displayId = request.displayId;
    return result;
}

}  // namespace

int ExecuteDesktopCommand(lenticor::Platform& platform, const DesktopRequest& request) {
    DesktopResult result = RequestDefaults(request);
    try {
        const std::wstring journalPath = AbsoluteJournalPath(platform.files, request.stateFile);
        std::optional<lenticor::FileHandle> lock;
        if (TakesLock(request.action))
            lock = desktop_win::AcquireJournalLock(platform.files, journalPath);
        std::string revision;
        const DesktopOperations ops = BuildOperations(platform, journalPath, revision);
        result = RunDesktopEngine(request, ops);
    } catch (const desktop_win::JournalError& error) {
        result = RequestDefaults(request);
        result.errorCode = error.code;
        result.errorMessage = error.what();
    } catch (const std::exception& error) {
        result = RequestDefaults(request);
        result.errorCode = "DESKTOP_IO_FAILED";
        result.errorMessage = error.what();
    }
    lenticor::WriteResultLine(platform.console.Out(), kDesktopResultTag,
                              DesktopResultToJson(result), lenticor::Utf8Handling::Replace);
    return result.success ? lenticor::kExitSuccess : lenticor::kExitFailure;
}

lenticor::Command MakeDesktopCommand() {
    return lenticor::MakeParsedCommand<DesktopRequest>(
        L"--nimbo-desktop", {.parse = ParseDesktopRequest,
                             .run = ExecuteDesktopCommand,
                             .defaultResult =
                                 [](const DesktopRequest& request) {
                                     DesktopResult result;
                                     result.action = request.action;
                                     return DesktopResultToJson(result);
                                 },
                             .tag = kDesktopResultTag,
                             .handling = lenticor::Utf8Handling::Replace});
}

}  // namespace nimbo
