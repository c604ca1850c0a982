#include "platform/sim/sim_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <string>

#include "platform/sim/sim_reader.h"

namespace lenticor::sim {
namespace {

std::filesystem::path RealPath(const Reader& reader, const SimFiles& files) {
    const auto real = files.RealPathOf(reader.Text());
    if (!real) {
        reader.Fail("not a drive path such as C:\\ProgramData");
    }
    return *real;
}

void CreateParents(const Reader& reader, const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        reader.Fail("cannot create its folder: " + error.message());
    }
}

// A junction is a folder link; a symbolic link may name a file or a folder,
// or nothing yet.
void ApplyLink(const Reader& link, const SimFiles& files) {
    link.ExpectObject({"path", "target", "kind"});
    const auto kind = link.Member("kind").Text();
    if (kind != L"junction" && kind != L"symlink") {
        link.Member("kind").Fail("expected \"junction\" or \"symlink\"");
    }
    const auto path = RealPath(link.Member("path"), files);
    const auto target = RealPath(link.Member("target"), files);
    if (kind == L"junction") {
        std::error_code error;
        std::filesystem::create_directories(target, error);
        if (error || !std::filesystem::is_directory(target)) {
            link.Member("target").Fail("a junction needs a folder");
        }
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        std::error_code error;
        if (S_ISLNK(status.st_mode) && std::filesystem::read_symlink(path, error) == target) {
            return;
        }
        link.Member("path").Fail("exists and is not this link");
    }
    CreateParents(link.Member("path"), path);
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        link.Member("path").Fail(std::string("cannot create the link: ") + std::strerror(errno));
    }
}

void ApplyHardLink(const Reader& link, const SimFiles& files) {
    link.ExpectObject({"path", "existing"});
    const auto path = RealPath(link.Member("path"), files);
    const auto existing = RealPath(link.Member("existing"), files);
    struct stat existingStatus {};
    if (::stat(existing.c_str(), &existingStatus) != 0 || !S_ISREG(existingStatus.st_mode)) {
        link.Member("existing").Fail("not an existing file");
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (status.st_ino == existingStatus.st_ino && status.st_dev == existingStatus.st_dev) {
            return;
        }
        link.Member("path").Fail("exists and is another file");
    }
    CreateParents(link.Member("path"), path);
    if (::link(existing.c_str(), path.c_str()) != 0) {
        link.Member("path").Fail(std::string("cannot create the hard link: ") +
                                 std::strerror(errno));
    }
}

// FAT and exFAT (and some network shares) refuse the POSIX-semantics rename:
// ERROR_FILE_SYSTEM_LIMITATION on exFAT, as Foundation met it
// (github.com/swiftlang/swift-foundation/pull/1926), unless told otherwise.
void ApplyVolume(const Reader& volume, SimFiles& files) {
    volume.ExpectObject({"drive", "format", "posixRenameError"});
    const auto drive = volume.Member("drive").Text();
    if (drive.size() != 1 || std::towlower(drive[0]) < L'a' || std::towlower(drive[0]) > L'z')
        volume.Member("drive").Fail("expected a drive letter such as \"E\"");
    const auto format = volume.Member("format").Text();
    if (format != L"NTFS" && format != L"FAT32" && format != L"exFAT")
        volume.Member("format").Fail("expected \"NTFS\", \"FAT32\" or \"exFAT\"");
    std::uint32_t refusal = format == L"NTFS" ? 0 : kErrorFileSystemLimitation;
    volume.Read("posixRenameError", refusal);
    if (refusal != 0)
        files.RefusePosixRename(static_cast<wchar_t>(std::towlower(drive[0])), refusal);
}

}  // namespace

void AttachSimFileScanner(MachineSource& source, SimFiles& files) {
    if (!source.machine.scanner)
        return;
    auto& machine = source.machine;
    machine.scanner->now = [&machine] { return machine.ddc.now; };
    files.AttachScanner(*machine.scanner);
}

void ApplySimFileSystem(const MachineSource& source, SimFiles& files) {
    // Every Windows installation has the machine-wide application data folder.
    if (const auto programData = files.RealPathOf(L"C:\\ProgramData")) {
        std::error_code error;
        std::filesystem::create_directories(*programData, error);
        if (error) {
            throw std::filesystem::filesystem_error("cannot create C:\\ProgramData", *programData,
                                                    error);
        }
    }
    if (!source.document.contains("fileSystem")) {
        return;
    }
    try {
        const Reader root(source.document, "");
        const auto fileSystem = root.Member("fileSystem");
        fileSystem.ExpectObject({"links", "hardLinks", "scanner", "volumes"});
        if (fileSystem.Has("links")) {
            for (const auto& link : fileSystem.Member("links").Array()) {
                ApplyLink(link, files);
            }
        }
        if (fileSystem.Has("hardLinks")) {
            for (const auto& link : fileSystem.Member("hardLinks").Array()) {
                ApplyHardLink(link, files);
            }
        }
        if (fileSystem.Has("volumes")) {
            for (const auto& volume : fileSystem.Member("volumes").Array())
                ApplyVolume(volume, files);
        }
    } catch (const MachineError& problem) {
        const std::string where = source.file ? "machine file " + source.file->string() : "machine";
        throw MachineError(where + ": " + problem.what());
    }
}

}  // namespace lenticor::sim
