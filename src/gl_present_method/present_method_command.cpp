#include "gl_present_method/present_method_command.h"

#include "gl_present_method/foreground.h"
#include "gl_present_method/nvapi_driver_profiles.h"
#include "gl_present_method/present_method.h"
#include "gl_present_method/present_method_result.h"
#include "gl_present_method/undo_store.h"
#include "platform/console.h"

namespace lenticor::gl_present_method {
namespace {

PresentMethodResult Detect(Processes& processes, std::ostream& err, IDriverProfiles& driver,
                           IUndoStore& store) {
    const auto foreground = DetectForegroundProcess(processes);
    if (!foreground) {
        PresentMethodResult result;
        result.action = PresentMethodAction::Detect;
        FailResult(result, "FOREGROUND_UNREADABLE",
                   "no foreground window, or its process cannot be read");
        return result;
    }
    // The line still says "other"; this says why nothing could be seen.
    if (foreground->snapshotError != kErrorSuccess) {
        err << "[GlPresentMethod] module snapshot failed, error=" << foreground->snapshotError
            << std::endl;
    }
    PresentMethodRequest status;
    status.exe = foreground->exe;
    PresentMethodResult result = EvaluatePresentMethod(status, driver, store);
    result.action = PresentMethodAction::Detect;
    result.api = ClassifyGraphicsApi(foreground->modules);
    return result;
}

}  // namespace

int RunPresentMethodCommand(Platform& platform, const PresentMethodRequest& request) {
    // Declared first so the NvAPI session is destroyed only after the line
    // is written.
    NvapiDriverProfiles driver(platform.modules);
    UndoStore store(platform.files, platform.environment, platform.registry, platform.steadyClock);
    const PresentMethodResult result =
        request.action == PresentMethodAction::Detect
            ? Detect(platform.processes, platform.console.Err(), driver, store)
            : EvaluatePresentMethod(request, driver, store);
    WritePresentMethodResult(platform.console.Out(), result);
    return result.success ? kExitSuccess : kExitFailure;
}

Command MakePresentMethodCommand() {
    return MakeParsedCommand<PresentMethodRequest>(
        L"--gl-present-method", {.parse = ParsePresentMethodArgs,
                                 .run = RunPresentMethodCommand,
                                 .defaultResult =
                                     [](const PresentMethodRequest& request) {
                                         PresentMethodResult result;
                                         result.action = request.action;
                                         result.exe = request.exe;
                                         return PresentMethodResultToJson(result);
                                     },
                                 .tag = kPresentMethodResultTag,
                                 .handling = Utf8Handling::Replace});
}

}  // namespace lenticor::gl_present_method
