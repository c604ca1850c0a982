#include "platform/sim/machine_lock.h"

#include "platform/sim/sim_machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lenticor::sim {

MachineFileLock::MachineFileLock(const std::filesystem::path& file) {
    auto name = file;
    name += ".lock";
    const int descriptor = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        throw MachineError("machine file " + PathText(file) + ": cannot open " + PathText(name) +
                           ": " + std::strerror(errno));
    }
    while (::flock(descriptor, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(descriptor);
            throw MachineError("machine file " + PathText(file) + ": cannot lock " +
                               PathText(name) + ": " + std::strerror(error));
        }
    }
    handle_ = descriptor;
}

MachineFileLock::~MachineFileLock() {
    ::close(static_cast<int>(handle_));
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace lenticor::sim
