#pragma once
// Timestamped, levelled diagnostic lines on standard error, written by the
// display inventory and the camera probe. Nothing parses them; the host may
// keep them for support.
//
//   [14:03:07.045] [ERROR] [DISPLAY] CreateDXGIFactory1 failed (HRESULT: 0x887a0002)

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace lenticor {

class Clock;

// "%H:%M:%S.mmm" of `ticks` (100 ns units since 1970-01-01 UTC) in local time
// as the clock converts it.
[[nodiscard]] std::string LogTimestamp(const Clock& clock, std::int64_t ticks);

// One diagnostic line without its line end: `level` is
// "INFO", "WARNING" or "ERROR"; the HRESULT suffix is added when `code` < 0.
[[nodiscard]] std::string FormatLogLine(std::string_view timestamp, std::string_view level,
                                        std::string_view message, std::int32_t code = 0);

class DiagnosticLog {
  public:
    DiagnosticLog(std::ostream& err, const Clock& clock) : err_(err), clock_(clock) {}

    void LogInfo(std::string_view message);
    void LogWarning(std::string_view message);
    // A negative `code` is an HRESULT and is appended in hex; a positive one
    // (a Win32 error number) is not written.
    void LogError(std::string_view message, std::int32_t code);
    void LogDisplayInfo(std::string_view message);
    void LogDisplayError(std::string_view message, std::int32_t code);

  private:
    void Write(std::string_view level, std::string_view message, std::int32_t code);

    std::ostream& err_;
    const Clock& clock_;
};

}  // namespace lenticor
