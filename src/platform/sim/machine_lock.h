#pragma once
// Held while a run reads the machine file or reads, changes and rewrites it,
// so that concurrent runs take turns as processes on one PC do. The lock file
// stays beside the machine file; only the lock on it is released. One
// implementation per host: flock on Linux, LockFileEx on Windows.

#include <cstdint>
#include <filesystem>
#include <string>

namespace lenticor::sim {

class MachineFileLock {
  public:
    // Waits for `file` + ".lock"; throws MachineError naming it.
    explicit MachineFileLock(const std::filesystem::path& file);
    MachineFileLock(const MachineFileLock&) = delete;
    MachineFileLock& operator=(const MachineFileLock&) = delete;
    ~MachineFileLock();

  private:
    std::intptr_t handle_ = -1;  // a descriptor or a HANDLE
};

// A path as UTF-8 for messages, whatever the host's narrow code page.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

}  // namespace lenticor::sim
