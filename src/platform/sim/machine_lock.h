#pragma once
// The host's side of the machine file: the lock beside it and the write that
// replaces it. One implementation per host: flock and rename on Linux,
// LockFileEx and a rename by handle on Windows.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lenticor::sim {

// How long a run waits for another to finish with the machine file. A run
// holds the lock only while it reads or writes the file, so a longer wait
// means a run that hangs (or a stranger holding the lock file).
inline constexpr std::chrono::seconds kMachineLockWait{10};

// Held while a run reads the machine file or reads, changes and rewrites it,
// so that concurrent runs take turns as processes on one PC do. The lock file
// stays beside the machine file; only the lock on it is released.
class MachineFileLock {
  public:
    // Waits up to `wait` for `file` + ".lock"; throws MachineError naming
    // the machine file ("locked by another run") or the host's error.
    explicit MachineFileLock(const std::filesystem::path& file,
                             std::chrono::milliseconds wait = kMachineLockWait);
    MachineFileLock(const MachineFileLock&) = delete;
    MachineFileLock& operator=(const MachineFileLock&) = delete;
    ~MachineFileLock();

  private:
    std::intptr_t handle_ = -1;  // a descriptor or a HANDLE
};

// Writes `text` to `file` + ".tmp", makes it durable and puts it in the
// place of `file` in one step, so a reader sees the old or the new machine,
// never half of one, even while other processes have the old one open.
// Throws MachineError naming the step and the host's own error number.
void ReplaceMachineFile(const std::filesystem::path& file, std::string_view text);

// The message of a lock not had within `wait`.
[[nodiscard]] std::string LockedByAnotherRun(const std::filesystem::path& file,
                                             std::chrono::milliseconds wait);

// A path as UTF-8 for messages, whatever the host's narrow code page.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

}  // namespace lenticor::sim
