#include "platform/sim/sim_files.h"

// Windows paths on the drives folder: normalising, resolving in any letter
// case, the MAX_PATH limit, and final paths back from real ones.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwctype>
#include <locale>
#include <system_error>
#include <utility>
#include <vector>

#include "app/text.h"
#include "platform/sim/sim_file_support.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor {
using namespace simfiles;
namespace fa = fileapi;
namespace {

// Text as Windows holds it: UTF-16 code units.
std::u16string Utf16Units(std::wstring_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code > 0xFFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

// Simple upper-case mapping of one UTF-16 unit; surrogates stay as they are,
// since Windows' ordinal comparison maps units, not code points.
char16_t UpperUnit(char16_t unit) {
    static const std::optional<std::locale> unicode = []() -> std::optional<std::locale> {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::runtime_error&) {
            return std::nullopt;
        }
    }();
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    if (!unicode)
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    const wchar_t upper =
        std::use_facet<std::ctype<wchar_t>>(*unicode).toupper(static_cast<wchar_t>(unit));
    // A mapping that leaves the BMP cannot be one unit; Windows keeps the unit.
    return static_cast<std::uint32_t>(upper) > 0xFFFF ? unit : static_cast<char16_t>(upper);
}

bool InvalidNameCharacter(wchar_t c) {
    return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
           c == L'*';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Without "\\?\" a full path holds at most MAX_PATH - 1 (259) characters, a
// folder to be created MAX_PATH - 12 (247), room for an 8.3 name ("Maximum
// Path Length Limitation", learn.microsoft.com/windows/win32/fileio/
// maximum-file-path-limitation; this program declares no longPathAware).
// Windows answers ERROR_PATH_NOT_FOUND for a file and
// ERROR_FILENAME_EXCED_RANGE for a new folder.
constexpr std::size_t kMaxPathCharacters = 259;
constexpr std::size_t kMaxFolderCharacters = 247;

// NTFS keeps a name's spelling but finds it in any letter case ("Do not
// assume case sensitivity ... consider the names OSCAR, Oscar, and oscar to
// be the same", Naming Files, Paths, and Namespaces, learn.microsoft.com/
// windows/win32/fileio/naming-a-file), comparing by upper-casing each UTF-16
// unit as CompareStringOrdinal does.
std::optional<std::string> MatchIgnoringCase(const std::filesystem::path& folder,
                                             std::wstring_view name) {
    std::u16string wanted = Utf16Units(name);
    for (auto& unit : wanted)
        unit = UpperUnit(unit);
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string found = entry->path().filename().string();
        const auto wide = Utf8ToWideStrict(found);
        if (!wide)
            continue;
        std::u16string units = Utf16Units(*wide);
        for (auto& unit : units)
            unit = UpperUnit(unit);
        if (units == wanted)
            return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> SimFiles::DosPathLimitError(std::wstring_view path,
                                                         bool newFolder) const {
    if (path.starts_with(L"\\\\?\\"))
        return std::nullopt;
    const auto full = WindowsFullPath(path, currentDirectory_);
    if (!full)
        return std::nullopt;
    if (Utf16Length(*full) > (newFolder ? kMaxFolderCharacters : kMaxPathCharacters))
        return newFolder ? kErrorFilenameExcedRange : kErrorPathNotFound;
    return std::nullopt;
}

std::optional<std::wstring> WindowsFullPath(std::wstring_view path,
                                            std::wstring_view currentDirectory) {
    if (path.empty())
        return std::nullopt;
    std::wstring text(path);
    // "\\?\" paths reach the file system as they are written.
    if (text.rfind(L"\\\\?\\", 0) == 0)
        return text;
    for (auto& c : text) {
        if (c == L'/')
            c = L'\\';
    }
    std::wstring root;
    std::wstring rest;
    if (text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\') {
        // UNC: "\\server\share" is the root that ".." cannot climb above.
        std::size_t server = text.find(L'\\', 2);
        std::size_t share = server == std::wstring::npos ? server : text.find(L'\\', server + 1);
        root = text.substr(0, share == std::wstring::npos ? text.size() : share) + L"\\";
        rest = share == std::wstring::npos ? L"" : text.substr(share + 1);
    } else if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == L':') {
        if (text.size() >= 3 && text[2] == L'\\') {
            root = text.substr(0, 3);
            rest = text.substr(3);
        } else if (currentDirectory.size() >= 2 &&
                   std::towlower(static_cast<std::wint_t>(currentDirectory[0])) ==
                       std::towlower(static_cast<std::wint_t>(text[0]))) {
            // "C:name" is relative to the current folder of that drive.
            root = std::wstring(currentDirectory.substr(0, 3));
            rest = std::wstring(currentDirectory.substr(3)) + L"\\" + text.substr(2);
        } else {
            root = text.substr(0, 2) + L"\\";
            rest = text.substr(2);
        }
    } else if (!text.empty() && text[0] == L'\\') {
        root = std::wstring(currentDirectory.substr(0, 3));
        rest = text.substr(1);
    } else {
        root = std::wstring(currentDirectory.substr(0, 3));
        rest = std::wstring(currentDirectory.substr(3)) + L"\\" + text;
    }
    const bool trailingSeparator = !rest.empty() && rest.back() == L'\\';
    std::vector<std::wstring> segments;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos)
            end = rest.size();
        std::wstring segment = rest.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == L".")
            continue;
        if (segment == L"..") {
            if (!segments.empty())
                segments.pop_back();
            continue;
        }
        // "If a segment ends in a single period, that period is removed"
        // (File path formats on Windows systems, learn.microsoft.com/dotnet/
        // standard/io/file-path-formats); three or more periods are a name.
        if (segment.size() >= 2 && segment.back() == L'.' && segment[segment.size() - 2] != L'.')
            segment.pop_back();
        segments.push_back(std::move(segment));
    }
    // Windows drops trailing dots and spaces of the last name, unless a
    // separator follows it.
    if (!trailingSeparator && !segments.empty()) {
        auto& last = segments.back();
        while (!last.empty() && (last.back() == L'.' || last.back() == L' '))
            last.pop_back();
        if (last.empty())
            segments.pop_back();
    }
    std::wstring full = root;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            full += L'\\';
        full += segments[i];
    }
    if (trailingSeparator && !segments.empty())
        full += L'\\';
    return full;
}

std::optional<std::filesystem::path> SimFiles::RealPathOf(std::wstring_view path) const {
    Win32Error error = kErrorSuccess;
    return Resolve(path, error);
}

std::optional<std::filesystem::path> SimFiles::Resolve(std::wstring_view path,
                                                       Win32Error& error) const {
    error = kErrorPathNotFound;
    auto full = WindowsFullPath(path, currentDirectory_);
    if (!full)
        return std::nullopt;
    std::wstring_view text = *full;
    if (text.rfind(L"\\\\?\\", 0) == 0) {
        text.remove_prefix(4);
    }
    if (text.size() < 3 || !IsDriveLetter(text[0]) || text[1] != L':' ||
        (text[2] != L'\\' && text[2] != L'/')) {
        return std::nullopt;
    }
    std::filesystem::path real =
        root_ / std::string(1, static_cast<char>(std::towlower(static_cast<std::wint_t>(text[0]))));
    // Once a name is missing, nothing below it can exist to be matched.
    bool existing = true;
    std::size_t start = 3;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos)
            end = text.size();
        const std::wstring_view segment = text.substr(start, end - start);
        start = end + 1;
        if (segment.empty())
            continue;
        for (const wchar_t c : segment) {
            if (InvalidNameCharacter(c)) {
                error = kErrorInvalidName;
                return std::nullopt;
            }
        }
        if (segment == L"." || segment == L"..")
            return std::nullopt;  // only a "\\?\" path can still hold these
        const std::string name = WideToUtf8(segment);
        struct stat status {};
        if (existing && ::lstat((real / name).c_str(), &status) != 0) {
            const auto match = MatchIgnoringCase(real, segment);
            existing = match.has_value();
            real /= match.value_or(name);
        } else {
            real /= name;
        }
    }
    error = kErrorSuccess;
    return real;
}

std::optional<std::wstring> SimFiles::FinalPathOfReal(const std::filesystem::path& real) const {
    std::error_code error;
    const auto root = std::filesystem::weakly_canonical(root_, error);
    if (error)
        return std::nullopt;
    const auto relative = real.lexically_relative(root);
    auto part = relative.begin();
    if (relative.empty() || part == relative.end())
        return std::nullopt;
    const std::string drive = part->string();
    if (drive.size() != 1 || !IsDriveLetter(static_cast<wchar_t>(drive[0])))
        return std::nullopt;  // outside the simulated drives
    std::wstring path = L"\\\\?\\";
    path += static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(drive[0])));
    path += L":\\";
    bool first = true;
    for (++part; part != relative.end(); ++part) {
        if (part->empty())
            continue;
        if (!first)
            path += L'\\';
        path += Utf8ToWideStrict(part->string()).value_or(L"\uFFFD");
        first = false;
    }
    return path;
}

int SimFiles::CompareStringOrdinal(std::wstring_view a, std::wstring_view b, bool ignoreCase) {
    const sim::PortCall counted;
    auto left = Utf16Units(a);
    auto right = Utf16Units(b);
    if (ignoreCase) {
        for (auto& unit : left)
            unit = UpperUnit(unit);
        for (auto& unit : right)
            unit = UpperUnit(unit);
    }
    const int order = left.compare(right);
    return order < 0 ? fa::kCstrLessThan : order == 0 ? fa::kCstrEqual : fa::kCstrGreaterThan;
}

std::uint32_t SimFiles::GetFullPathNameW(std::wstring_view fileName, std::uint32_t bufferLength,
                                         std::wstring& fullPath) {
    const sim::PortCall counted;
    fullPath.clear();
    const auto full = WindowsFullPath(fileName, currentDirectory_);
    if (!full)
        return 0;
    const std::size_t length = Utf16Length(*full);
    if (length + 1 <= bufferLength) {
        fullPath = *full;
        return static_cast<std::uint32_t>(length);
    }
    return static_cast<std::uint32_t>(length + 1);
}

}  // namespace lenticor
