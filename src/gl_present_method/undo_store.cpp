#include "gl_present_method/undo_store.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "app/busy_file_retry.h"
#include "app/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace lenticor::gl_present_method {
namespace {

namespace fa = fileapi;

constexpr std::wstring_view kDefaultProgramData = L"C:\\ProgramData";
constexpr std::wstring_view kUndoFolder = L"\\Korvo\\VistelCompat\\GlPresentMethod";
constexpr std::wstring_view kUndoExtension = L".undo";
constexpr std::wstring_view kUndoRegistryKey = L"Software\\Korvo\\VistelCompat\\GlPresentMethod";
// SYSTEM and administrators get full control, authenticated users Modify
// (0x1301bf: read, write, execute and delete, inherited by every record, so
// any of them may delete any record or the emptied folder; neither WRITE_DAC
// nor WRITE_OWNER). Whoever creates the folder owns it (Administrators when
// an elevated administrator does), and an owner may always change its
// security.
constexpr std::wstring_view kUndoFolderSddl =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)";

constexpr std::uint32_t kFinalPathCapacity = 1024;
// The longest valid record has 15 characters; anything read beyond 63 could
// not be one anyway.
constexpr std::uint32_t kRecordReadLimit = 63;
constexpr std::size_t kRegistryRecordBytes = 128;  // 63 UTF-16 units and the NUL
constexpr std::uint32_t kShareAll = fa::kShareRead | fa::kShareWrite | fa::kShareDelete;

std::wstring ProgramDataFolder(Environment& environment) {
    std::wstring value;
    const std::uint32_t length =
        environment.GetEnvironmentVariableW(L"ProgramData", kProgramDataBufferLength, value);
    if (length != 0 && length < kProgramDataBufferLength)
        return value;
    return std::wstring(kDefaultProgramData);
}

std::wstring UndoFilePath(const std::wstring& programData, const std::wstring& key) {
    return programData + std::wstring(kUndoFolder) + L"\\" + key + std::wstring(kUndoExtension);
}

bool IsReparsePoint(Files& files, const std::wstring& path) {
    const auto attributes = files.GetFileAttributesW(path);
    return attributes.error == kErrorSuccess &&
           (attributes.attributes & fa::kAttributeReparsePoint) != 0;
}

// The record folder and the two above it, none of them a reparse point: a
// junction planted there by an unprivileged user would redirect the writes.
bool EnsureUndoDirectory(Files& files, const std::wstring& programData) {
    const std::wstring folder = programData + std::wstring(kUndoFolder);
    const std::wstring parent = folder.substr(0, folder.rfind(L'\\'));
    const std::wstring grandparent = parent.substr(0, parent.rfind(L'\\'));
    for (const auto& ancestor : {grandparent, parent}) {
        static_cast<void>(files.CreateDirectoryW(ancestor, nullptr));
        if (IsReparsePoint(files, ancestor))
            return false;
    }
    const auto existing = files.GetFileAttributesW(folder);
    if (existing.error == kErrorSuccess)
        return (existing.attributes & fa::kAttributeReparsePoint) == 0;
    const std::wstring sddl(kUndoFolderSddl);
    const Win32Error error = files.CreateDirectoryW(folder, &sddl);
    return error == kErrorSuccess || error == kErrorAlreadyExists;
}

std::wstring FinalPath(Files& files, const FileHandle& handle) {
    std::wstring path;
    const std::uint32_t length =
        files.GetFinalPathNameByHandleW(handle, kFinalPathCapacity, 0, path);
    if (length == 0 || length >= kFinalPathCapacity)
        path.clear();
    return path;
}

// Whether the open file is the record file where the folder really is: a
// link anywhere between ProgramData and the file moves the final path.
bool HandlePathMatches(Files& files, const std::wstring& programData, const FileHandle& handle,
                       const std::wstring& key) {
    std::wstring expected;
    {
        const auto folder = files.CreateFileW(programData, fa::kFileReadAttributes, kShareAll,
                                              fa::kOpenExisting, fa::kFlagBackupSemantics);
        if (!folder.handle.IsOpen())
            return false;
        expected = FinalPath(files, folder.handle) +
                   UndoFilePath(programData, key).substr(programData.size());
    }
    const std::wstring actual = FinalPath(files, handle);
    return files.CompareStringOrdinal(actual, expected, true) == fa::kCstrEqual;
}

// The record file, opened only when it is a plain file with one name at the
// place it should be; otherwise no handle.
FileHandle OpenUndoFile(Files& files, const std::wstring& programData, const std::wstring& key,
                        std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
    auto opened = files.CreateFileW(UndoFilePath(programData, key), access, share, disposition,
                                    fa::kFlagOpenReparsePoint);
    if (!opened.handle.IsOpen())
        return {};
    const auto information = files.GetFileInformationByHandle(opened.handle);
    if (information.error != kErrorSuccess ||
        (information.attributes & fa::kAttributeReparsePoint) != 0 ||
        information.numberOfLinks != 1 ||
        !HandlePathMatches(files, programData, opened.handle, key)) {
        return {};
    }
    return std::move(opened.handle);
}

// Opening the record failed in a way that proves there is none: the path
// leads nowhere, or it names a file Windows cannot store (reserved or control
// characters, a name or path over the limit: ERROR_INVALID_NAME,
// ERROR_FILENAME_EXCED_RANGE).
bool NoRecordCanBeThere(Win32Error error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound ||
           error == kErrorInvalidName || error == kErrorFilenameExcedRange;
}

}  // namespace

std::optional<std::string> MachineUndoStore::Read(const std::wstring& key) {
    // Delete is shared so that a status run reading the record never makes an
    // undo's removal fail with a sharing violation: the delete then succeeds,
    // and the name goes when this handle closes (CreateFileW, FILE_SHARE_DELETE;
    // until then the file is delete-pending and new opens fail).
    FileHandle file = OpenUndoFile(files_, ProgramDataFolder(environment_), key, fa::kGenericRead,
                                   fa::kShareRead | fa::kShareDelete, fa::kOpenExisting);
    if (!file.IsOpen())
        return std::nullopt;
    char buffer[kRecordReadLimit];
    const auto read = files_.ReadFile(file, buffer, kRecordReadLimit);
    file.Close();
    if (read.error != kErrorSuccess)
        return std::nullopt;
    return std::string(buffer, read.bytes);
}

bool MachineUndoStore::Write(const std::wstring& key, const std::string& text) {
    const std::wstring programData = ProgramDataFolder(environment_);
    if (!EnsureUndoDirectory(files_, programData))
        return false;
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    const FileHandle file =
        OpenUndoFile(files_, programData, key, fa::kGenericRead | fa::kGenericWrite, fa::kShareNone,
                     fa::kOpenAlways);
    if (!file.IsOpen())
        return false;
    // A fresh handle's file pointer is at 0, so this empties the file.
    if (files_.SetEndOfFile(file) != kErrorSuccess)
        return false;
    const auto size = static_cast<std::uint32_t>(text.size());
    const auto written = files_.WriteFile(file, text.data(), size);
    if (written.error != kErrorSuccess || written.bytes != size)
        return false;
    return files_.FlushFileBuffers(file) == kErrorSuccess;
}

bool MachineUndoStore::Remove(const std::wstring& key) {
    const std::wstring programData = ProgramDataFolder(environment_);
    // Only the final path is checked: a record file with a second name is
    // still ours to delete, and deleting removes just this name.
    // A scanner that opened the record just written, sharing no delete, lets
    // go within a moment.
    CreateFileResult opened;
    static_cast<void>(RetryWhileFileBusy(clock_, [&] {
        opened = files_.CreateFileW(UndoFilePath(programData, key),
                                    fa::kDelete | fa::kFileReadAttributes, kShareAll,
                                    fa::kOpenExisting, fa::kFlagOpenReparsePoint);
        return opened.error;
    }));
    if (!opened.handle.IsOpen())
        return NoRecordCanBeThere(opened.error);
    if (!HandlePathMatches(files_, programData, opened.handle, key))
        return false;
    return files_.SetFileDispositionInfoDelete(opened.handle) == kErrorSuccess;
}

std::optional<std::string> RegistryUndoStore::Read(const std::wstring& key) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (registry_.RegGetValueW(RegistryHive::CurrentUser, kUndoRegistryKey, key, kRrfRtRegSz,
                               kRegistryRecordBytes, type, data) != kErrorSuccess) {
        return std::nullopt;
    }
    // The buffer holds a NUL-terminated string; the text ends at the first NUL.
    std::wstring text = Utf16LeToWide(data);
    if (const auto end = text.find(L'\0'); end != std::wstring::npos)
        text.resize(end);
    return WideToUtf8(text);
}

bool RegistryUndoStore::Write(const std::wstring& key, const std::string& text) {
    std::vector<std::uint8_t> data;
    data.reserve(text.size() * 2 + 2);
    for (const char c : text) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(0);
    }
    data.insert(data.end(), {0, 0});
    if (registry_.RegSetKeyValueW(RegistryHive::CurrentUser, kUndoRegistryKey, key, kRegSz, data) !=
        kErrorSuccess) {
        return false;
    }
    // The driver setting the record guards is saved at once; a record the lazy
    // flusher has not yet written would not survive a power loss beside it.
    std::unique_ptr<RegistryKey> opened;
    return registry_.OpenKey(RegistryHive::CurrentUser, kUndoRegistryKey, kKeyRead, opened) ==
               kErrorSuccess &&
           opened->Flush() == kErrorSuccess;
}

bool RegistryUndoStore::Remove(const std::wstring& key) {
    const Win32Error status =
        registry_.RegDeleteKeyValueW(RegistryHive::CurrentUser, kUndoRegistryKey, key);
    return status == kErrorSuccess || status == kErrorFileNotFound;
}

std::optional<std::string> UndoStore::Read(const std::wstring& key) {
    if (auto text = machine_.Read(key))
        return text;
    return registry_.Read(key);
}

bool UndoStore::Write(const std::wstring& key, const std::string& text) {
    if (machine_.Write(key, text)) {
        static_cast<void>(registry_.Remove(key));
        return true;
    }
    // The registry is the fallback only when no machine record is left to
    // shadow it on the next read.
    static_cast<void>(machine_.Remove(key));
    if (machine_.Read(key))
        return false;
    return registry_.Write(key, text);
}

bool UndoStore::Remove(const std::wstring& key) {
    const bool machineRemoved = machine_.Remove(key);
    const bool registryRemoved = registry_.Remove(key);
    return machineRemoved && registryRemoved;
}

}  // namespace lenticor::gl_present_method
