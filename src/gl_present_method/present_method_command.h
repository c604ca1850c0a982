#pragma once
// --gl-present-method on the ports: the NVIDIA driver's profiles through
// NvAPI, the undo records in ProgramData or the user's registry, and the
// foreground window for detect.

#include "app/dispatcher.h"
#include "gl_present_method/present_method_request.h"

namespace lenticor::gl_present_method {

// Runs the request and writes its "[VXGlPresentMethod]" line; exit 0 when
// the line says success, 1 otherwise. Detect reports the status of the
// foreground process's exe (any --exe is ignored) and its graphics api; when
// no foreground process can be identified the driver is not opened at all.
[[nodiscard]] int RunPresentMethodCommand(Platform& platform, const PresentMethodRequest& request);

// The "--gl-present-method" entry of the command table.
[[nodiscard]] Command MakePresentMethodCommand();

}  // namespace lenticor::gl_present_method
