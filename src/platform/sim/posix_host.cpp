#include "platform/sim/posix_host.h"
#include "platform/sim/sim_port_calls.h"

#include "app/text.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace lenticor::sim {

std::uint32_t ProcessEnvironment::GetEnvironmentVariableW(std::wstring_view name,
                                                          std::uint32_t capacity,
                                                          std::wstring& value) {
    const PortCall counted;
    value.clear();
    const char* text = std::getenv(WideToUtf8(name).c_str());
    if (text == nullptr) {
        return 0;
    }
    const auto wide = Utf8ToWideStrict(text).value_or(L"\uFFFD");
    // An empty variable reads as an unset one, whatever the buffer.
    return wide.empty() ? 0 : Answer(wide, capacity, value);
}

bool SimStandardInput::IsPipe() {
    struct stat status {};
    return ::fstat(STDIN_FILENO, &status) == 0 && S_ISFIFO(status.st_mode);
}

bool SimStandardInput::PeekAvailable(std::uint32_t& available) {
    int count = 0;
    if (::ioctl(STDIN_FILENO, FIONREAD, &count) != 0 || count < 0) {
        return false;
    }
    // An empty pipe whose every writer has gone is broken: PeekNamedPipe
    // then fails (ERROR_BROKEN_PIPE) instead of reporting nothing to read.
    if (count == 0) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) == 1 && (input.revents & POLLHUP) != 0) {
            return false;
        }
    }
    available = static_cast<std::uint32_t>(count);
    return true;
}

bool SimStandardInput::Read(std::span<char> buffer, std::uint32_t& read) {
    const auto got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got < 0) {
        return false;
    }
    read = static_cast<std::uint32_t>(got);
    return true;
}

}  // namespace lenticor::sim
