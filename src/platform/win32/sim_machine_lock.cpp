// lenticor-sim.exe's side of the machine file. The lock beside it is a
// byte-range lock, which Windows releases when the handle closes or the
// process ends, so a run that crashes never leaves the machine locked. The
// file is replaced as the desktop journal is: a reader elsewhere (an editor,
// a second run's start-up read, a virus scanner) must not make the write-back
// fail.

#include "platform/sim/machine_lock.h"

#include "platform/sim/sim_machine.h"
#include "unique_handle.h"
#include "win32_ports.h"
#include "windows_api.h"

#include <string>

namespace lenticor::sim {
namespace {

namespace fa = lenticor::fileapi;
using lenticor::win32::UniqueFileHandle;

constexpr DWORD kLockPollMilliseconds = 10;

// A reader that has the machine file open blocks a plain replace only while
// it is open; these few short waits outlast such a read.
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplacePauseMilliseconds = 10;

std::string Describe(const std::filesystem::path& file) {
    return "machine file " + PathText(file);
}

std::string Failure(const std::filesystem::path& file, const char* what,
                    const std::filesystem::path& name, DWORD error) {
    return Describe(file) + ": " + what + " " + PathText(name) + ": error " + std::to_string(error);
}

bool IsBusy(Win32Error error) {
    return error == kErrorAccessDenied || error == kErrorSharingViolation;
}

// Windows before 10 1607 (and Wine 8) answer ERROR_INVALID_PARAMETER to
// FileRenameInfoEx; FAT and some redirectors ERROR_NOT_SUPPORTED or
// ERROR_INVALID_FUNCTION.
bool IsUnsupportedRename(Win32Error error) {
    return error == kErrorInvalidParameter || error == kErrorNotSupported ||
           error == kErrorInvalidFunction;
}

// The whole file, so every run locks the same range whatever the file's size.
bool UnlockWhole(HANDLE lock) {
    OVERLAPPED whole{};
    return ::UnlockFileEx(lock, 0, MAXDWORD, MAXDWORD, &whole) != 0;
}

}  // namespace

MachineFileLock::MachineFileLock(const std::filesystem::path& file,
                                 std::chrono::milliseconds wait) {
    auto name = file;
    name += ".lock";
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(wait.count());
    // Shared with everyone: the byte-range lock, not the share mode, orders
    // the runs. A process that opened the lock file without sharing is waited
    // for as a run holding the lock is.
    UniqueFileHandle lock;
    for (;;) {
        lock.reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (lock) {
            OVERLAPPED whole{};
            if (::LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                             MAXDWORD, MAXDWORD, &whole)) {
                break;
            }
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_SHARING_VIOLATION) {
            throw MachineError(Failure(file, lock ? "cannot lock" : "cannot open", name, error));
        }
        if (::GetTickCount64() >= deadline) {
            throw MachineError(LockedByAnotherRun(file, wait));
        }
        ::Sleep(kLockPollMilliseconds);
    }
    handle_ = reinterpret_cast<std::intptr_t>(lock.release());
}

MachineFileLock::~MachineFileLock() {
    // Closing would release the range too, but only "after the system has
    // finished with the handle" (LockFileEx, learn.microsoft.com/windows/
    // win32/api/fileapi/nf-fileapi-lockfileex); unlocking first hands the
    // machine to the next run at once.
    const UniqueFileHandle lock(reinterpret_cast<HANDLE>(handle_));
    UnlockWhole(lock.get());
}

void ReplaceMachineFile(const std::filesystem::path& file, std::string_view text) {
    const std::wstring target = std::filesystem::absolute(file).wstring();
    const std::wstring temporary = target + L".tmp";
    const auto owner = lenticor::win32::MakeWin32Files();
    auto& files = *owner;
    // DELETE so that the open temporary file itself can be renamed over the
    // machine file.
    auto opened = files.CreateFileW(temporary, fa::kGenericWrite | fa::kDelete, fa::kShareNone,
                                    fa::kCreateAlways, fa::kAttributeNormal);
    if (!opened.handle.IsOpen()) {
        throw MachineError(Failure(file, "cannot write", temporary, opened.error));
    }
    const auto written =
        files.WriteFile(opened.handle, text.data(), static_cast<std::uint32_t>(text.size()));
    Win32Error error = written.error;
    if (error == kErrorSuccess && written.bytes != text.size()) {
        error = ERROR_WRITE_FAULT;
    }
    if (error == kErrorSuccess) {
        error = files.FlushFileBuffers(opened.handle);
    }
    if (error != kErrorSuccess) {
        opened.handle.Close();
        (void)files.DeleteFileW(temporary);
        throw MachineError(Failure(file, "cannot write", temporary, error));
    }
    // A plain replace (MoveFileExW) fails while any handle has the machine
    // file open, even one sharing delete; a POSIX-semantics rename replaces
    // it and leaves the reader its old file. Where the system lacks that
    // rename, retry the plain replace for a moment instead.
    bool posixRename = true;
    for (int attempt = 0; attempt < kReplaceAttempts;) {
        if (posixRename) {
            error = files.SetFileRenameInfoPosixReplace(opened.handle, target);
            if (IsUnsupportedRename(error)) {
                posixRename = false;
                opened.handle.Close();  // MoveFileExW needs it closed
                continue;
            }
        } else {
            error = files.MoveFileExW(temporary, target,
                                      fa::kMoveReplaceExisting | fa::kMoveWriteThrough);
        }
        if (error == kErrorSuccess) {
            return;
        }
        if (!IsBusy(error) || ++attempt == kReplaceAttempts) {
            break;
        }
        ::Sleep(kReplacePauseMilliseconds);
    }
    opened.handle.Close();
    (void)files.DeleteFileW(temporary);
    throw MachineError(Describe(file) + ": cannot replace: error " + std::to_string(error));
}

std::string PathText(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace lenticor::sim
