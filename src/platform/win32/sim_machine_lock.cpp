// lenticor-sim.exe's lock beside the machine file: a byte-range lock, which
// Windows releases when the handle closes or the process ends, so a run that
// crashes never leaves the machine locked.

#include "platform/sim/machine_lock.h"

#include "platform/sim/sim_machine.h"
#include "windows_api.h"

#include <string>

namespace lenticor::sim {
namespace {

std::string Failure(const std::filesystem::path& file, const char* what,
                    const std::filesystem::path& name, DWORD error) {
    return "machine file " + PathText(file) + ": " + what + " " + PathText(name) + ": error " +
           std::to_string(error);
}

}  // namespace

MachineFileLock::MachineFileLock(const std::filesystem::path& file) {
    auto name = file;
    name += ".lock";
    // Shared with everyone: the byte-range lock, not the share mode, orders
    // the runs, so a waiting run can open the file and block in LockFileEx.
    HANDLE lock = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
        throw MachineError(Failure(file, "cannot open", name, ::GetLastError()));
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(lock);
        throw MachineError(Failure(file, "cannot lock", name, error));
    }
    handle_ = reinterpret_cast<std::intptr_t>(lock);
}

MachineFileLock::~MachineFileLock() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string PathText(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace lenticor::sim
