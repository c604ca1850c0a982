#include "platform/sim/machine_lock.h"

#include "platform/sim/sim_machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

namespace lenticor::sim {
namespace {

constexpr std::chrono::milliseconds kLockPoll{10};

std::string Describe(const std::filesystem::path& file) {
    return "machine file " + PathText(file);
}

}  // namespace

MachineFileLock::MachineFileLock(const std::filesystem::path& file,
                                 std::chrono::milliseconds wait) {
    auto name = file;
    name += ".lock";
    const int descriptor = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        throw MachineError(Describe(file) + ": cannot open " + PathText(name) + ": " +
                           std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kLockPoll);
            continue;
        }
        if (error == EINTR) {
            continue;
        }
        ::close(descriptor);
        throw MachineError(error == EWOULDBLOCK ? LockedByAnotherRun(file, wait)
                                                : Describe(file) + ": cannot lock " +
                                                      PathText(name) + ": " + std::strerror(error));
    }
    handle_ = descriptor;
}

MachineFileLock::~MachineFileLock() {
    ::flock(static_cast<int>(handle_), LOCK_UN);
    ::close(static_cast<int>(handle_));
}

void ReplaceMachineFile(const std::filesystem::path& file, std::string_view text) {
    auto temporary = file;
    temporary += ".tmp";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream.write(text.data(), static_cast<std::streamsize>(text.size()));
        stream.flush();
        if (!stream) {
            throw MachineError(Describe(file) + ": cannot write " + PathText(temporary) + ": " +
                               std::strerror(errno));
        }
    }
    // rename(2) replaces the name even while others have the old file open;
    // they keep reading the file they opened.
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw MachineError(Describe(file) + ": cannot replace: " + std::strerror(error));
    }
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace lenticor::sim
