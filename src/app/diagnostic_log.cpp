#include "app/diagnostic_log.h"

#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace lenticor {

std::string LogTimestamp(const Clock& clock, std::int64_t ticks) {
    const std::int64_t seconds = ticks / 10'000'000;
    const auto millis = static_cast<int>((ticks / 10'000) % 1000);
    const std::tm local = clock.ToLocalTime(seconds);
    char buffer[32] = {};
    const auto length = std::strftime(buffer, sizeof(buffer), "%H:%M:%S", &local);
    char fraction[8] = {};
    std::snprintf(fraction, sizeof(fraction), ".%03d", millis);
    return std::string(buffer, length) + fraction;
}

std::string FormatLogLine(std::string_view timestamp, std::string_view level,
                          std::string_view message, std::int32_t code) {
    std::string line;
    line.reserve(timestamp.size() + message.size() + 40);
    line.append("[").append(timestamp).append("] [").append(level).append("] ").append(message);
    if (code < 0) {
        char suffix[32] = {};
        std::snprintf(suffix, sizeof(suffix), " (HRESULT: 0x%x)", static_cast<std::uint32_t>(code));
        line.append(suffix);
    }
    return line;
}

void DiagnosticLog::Write(std::string_view level, std::string_view message, std::int32_t code) {
    err_ << FormatLogLine(LogTimestamp(clock_, clock_.NowTicks()), level, message, code)
         << std::endl;
}

void DiagnosticLog::LogInfo(std::string_view message) {
    Write("INFO", message, 0);
}

void DiagnosticLog::LogWarning(std::string_view message) {
    Write("WARNING", message, 0);
}

void DiagnosticLog::LogError(std::string_view message, std::int32_t code) {
    Write("ERROR", message, code);
}

void DiagnosticLog::LogDisplayInfo(std::string_view message) {
    LogInfo(std::string("[DISPLAY] ").append(message));
}

void DiagnosticLog::LogDisplayError(std::string_view message, std::int32_t code) {
    LogError(std::string("[DISPLAY] ").append(message), code);
}

}  // namespace lenticor
