// A host program that starts lenticor.exe (or lenticor-sim.exe) once per
// operation, the way a host application should: no console window, its own
// pipes on standard input and output, a quoted command line, the result line
// read to its line feed, the exit code checked against the result, and the
// tokens of one run handed back to the next.
//
//   lenticor_sample_host desktop    <lenticor.exe> <absolute state file>
//   lenticor_sample_host detach     <lenticor.exe> <absolute state file>
//   lenticor_sample_host power      <lenticor.exe>
//   lenticor_sample_host brightness <lenticor.exe> <level 0-100>
//   lenticor_sample_host cancel     <lenticor.exe>
//
// One line per run on standard output: the arguments as quoted on the command
// line, the exit code, the result line as received and what the host decided.
// Exit code 0 when every run answered as the protocol says (DESKTOP_BUSY
// included), 1 otherwise, 2 for a wrong command line.

#include <windows.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using nlohmann::json;

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const noexcept {
        ::DeleteProcThreadAttributeList(list);
    }
};

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::wstring Wide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

void Complain(const std::string& message) {
    std::fputs(("sample host: " + message + "\n").c_str(), stderr);
}

// One argument as the C runtime's parser reads it back: quoted when it is
// empty or holds a blank, tab or quotation mark; backslashes are doubled only
// before a quotation mark, their own or the closing one.
// https://learn.microsoft.com/en-us/cpp/c-language/parsing-c-command-line-arguments
// Example: Z:\my dir\ -> "Z:\my dir\\"
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

// What one run answered.
struct Answer {
    std::string arguments;  // as quoted on the command line, UTF-8
    DWORD exitCode = 0;
    std::string line;  // the result line without its line end
    json result;
};

// Starts `exe` with `arguments`, optionally sends the cancel line, reads the
// one result line and waits for the exit code. Nothing when the run broke the
// protocol (reported on standard error).
std::optional<Answer> Run(const std::wstring& exe, const std::vector<std::wstring>& arguments,
                          std::string_view tag, bool cancel = false) {
    Answer answer;
    // The program name is read up to the next quotation mark, without escapes.
    std::wstring commandLine = L"\"" + exe + L"\"";
    for (const std::wstring& argument : arguments) {
        const std::wstring quoted = QuoteArgument(argument);
        commandLine += L" " + quoted;
        answer.arguments += (answer.arguments.empty() ? "" : " ") + Utf8(quoted);
    }

    // The child's ends are inheritable, ours are not: a child holding our
    // write end of its standard input would never see it close.
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE raw[2] = {};
    if (!::CreatePipe(&raw[0], &raw[1], &inheritable, 0)) {
        Complain("CreatePipe failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    UniqueHandle childInput(raw[0]);
    const UniqueHandle hostInput(raw[1]);
    if (!::CreatePipe(&raw[0], &raw[1], &inheritable, 0)) {
        Complain("CreatePipe failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    const UniqueHandle hostOutput(raw[0]);
    UniqueHandle childOutput(raw[1]);
    if (!::SetHandleInformation(hostInput.get(), HANDLE_FLAG_INHERIT, 0) ||
        !::SetHandleInformation(hostOutput.get(), HANDLE_FLAG_INHERIT, 0)) {
        Complain("SetHandleInformation failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    // Diagnostics go where ours go; a host without standard error (a GUI
    // program) gives the null device, or a log file of its own.
    HANDLE childError = nullptr;
    const HANDLE ownError = ::GetStdHandle(STD_ERROR_HANDLE);
    if (ownError == nullptr || ownError == INVALID_HANDLE_VALUE) {
        childError = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
    } else if (!::DuplicateHandle(::GetCurrentProcess(), ownError, ::GetCurrentProcess(),
                                  &childError, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        childError = nullptr;
    }
    UniqueHandle childErrorOwner(childError);
    if (childError == nullptr || childError == INVALID_HANDLE_VALUE) {
        Complain("no standard error for the child, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }

    // Only these three handles go to the child, even when another thread of
    // the host creates inheritable handles at the same moment.
    HANDLE inherited[] = {childInput.get(), childOutput.get(), childError};
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> listBuffer(listSize);
    auto* rawList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    if (!::InitializeProcThreadAttributeList(rawList, 1, 0, &listSize)) {
        Complain("InitializeProcThreadAttributeList failed, error=" +
                 std::to_string(::GetLastError()));
        return std::nullopt;
    }
    const std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter> list(rawList);
    if (!::UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                     sizeof(inherited), nullptr, nullptr)) {
        Complain("UpdateProcThreadAttribute failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput.get();
    startup.StartupInfo.hStdOutput = childOutput.get();
    startup.StartupInfo.hStdError = childError;
    startup.lpAttributeList = list.get();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                          &startup.StartupInfo, &started)) {
        Complain("CreateProcessW failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    // Our copies of the child's ends go now, or standard output never ends.
    childInput.reset();
    childOutput.reset();
    childErrorOwner.reset();

    if (cancel) {
        // Exactly these seven bytes; "cancel\r\n" does not cancel.
        static constexpr char kCancel[] = "cancel\n";
        DWORD written = 0;
        if (!::WriteFile(hostInput.get(), kCancel, sizeof(kCancel) - 1, &written, nullptr) ||
            written != sizeof(kCancel) - 1) {
            Complain("writing the cancel line failed, error=" + std::to_string(::GetLastError()));
        }
    }

    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(hostOutput.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        output.append(buffer, read);
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    if (!::GetExitCodeProcess(process.get(), &answer.exitCode)) {
        Complain("GetExitCodeProcess failed, error=" + std::to_string(::GetLastError()));
        return std::nullopt;
    }

    // The C runtime ends the line with CR LF.
    const size_t end = output.find('\n');
    if (end == std::string::npos || end + 1 != output.size()) {
        Complain(answer.arguments + ": expected one result line, got " +
                 json(output).dump(-1, ' ', false, json::error_handler_t::replace));
        return std::nullopt;
    }
    answer.line = output.substr(0, end);
    if (!answer.line.empty() && answer.line.back() == '\r') {
        answer.line.pop_back();
    }
    if (answer.line.compare(0, tag.size(), tag) != 0) {
        Complain(answer.arguments + ": expected the tag " + std::string(tag));
        return std::nullopt;
    }
    answer.result = json::parse(answer.line.substr(tag.size()), nullptr, false);
    if (!answer.result.is_object() || !answer.result["success"].is_boolean() ||
        !answer.result.value("errorCode", json("")).is_string()) {
        Complain(answer.arguments + ": the result is not a JSON object with \"success\"");
        return std::nullopt;
    }

    // 0 success, 1 the command ran and failed, 2 the arguments were rejected;
    // anything else (a crash, a kill) is no answer at all.
    const bool success = answer.result["success"].get<bool>();
    const bool rejected = answer.result.value("errorCode", "") == "INVALID_ARGUMENT";
    const DWORD expected = success ? 0 : (rejected ? 2 : 1);
    if (answer.exitCode != expected) {
        Complain(answer.arguments + ": exit code " + std::to_string(answer.exitCode) +
                 " does not match the result");
        return std::nullopt;
    }
    return answer;
}

// The host's own line for one run.
void Say(const Answer& answer, const std::string& decision) {
    const std::string line = answer.arguments + " => exit " + std::to_string(answer.exitCode) +
                             " " + answer.line + " => " + decision + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

bool IsBusy(const Answer& answer) {
    return answer.result.value("errorCode", "") == "DESKTOP_BUSY";
}

// Whether a run succeeded; says why not when it ran and failed. Another
// command holding the desktop journal (DESKTOP_BUSY) changed nothing, and
// the documented answer is to try again after it completes.
bool Succeeded(const std::optional<Answer>& answer) {
    if (!answer) {
        return false;
    }
    if (answer->result.at("success").get<bool>()) {
        return true;
    }
    Say(*answer, IsBusy(*answer)
                     ? "busy: another command owns the journal, retry later"
                     : "failed: " + answer->result.value("errorCode", std::string("no code")));
    return false;
}

// What a sequence that stopped at `answer` reports: as documented only when
// the journal was busy.
bool StoppedAsDocumented(const std::optional<Answer>& answer) {
    return answer && IsBusy(*answer);
}

std::wstring TextAt(const json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? Wide(found->get<std::string>())
                                                       : std::wstring();
}

// The capability token of a DDC/CI status, when it issued one.
std::wstring CapabilityToken(const json& result) {
    const auto cache = result.find("capabilityCache");
    return cache != result.end() && cache->is_object() ? TextAt(*cache, "token") : std::wstring();
}

constexpr std::string_view kDesktop = "[VXNimboDesktop]";
constexpr std::string_view kPower = "[VXNimboPower]";
constexpr std::string_view kBrightness = "[VXNimboBrightness]";

bool Detach(const std::wstring& exe, const std::wstring& stateFile) {
    const auto detach =
        Run(exe, {L"--nimbo-desktop", L"detach", L"--state-file", stateFile}, kDesktop);
    if (!Succeeded(detach)) {
        return StoppedAsDocumented(detach);
    }
    Say(*detach, "ok, detached");
    return true;
}

// status -> detach -> status -> restore. The recovery token of a status goes
// back only to forget; restore takes the journal's display id instead.
bool DesktopRoundTrip(const std::wstring& exe, const std::wstring& stateFile) {
    // Every step names the same journal; detach and restore also the display.
    const auto desktop = [&](const wchar_t* action, std::optional<std::wstring> displayId = {}) {
        std::vector<std::wstring> args = {L"--nimbo-desktop", action, L"--state-file", stateFile};
        if (displayId) {
            args.insert(args.end(), {L"--display-id", *displayId});
        }
        return Run(exe, args, kDesktop);
    };
    const auto before = desktop(L"status");
    if (!Succeeded(before)) {
        return false;
    }
    Say(*before, "ok, detach next");
    const auto detach = desktop(L"detach", TextAt(before->result, "displayId"));
    if (!Succeeded(detach)) {
        return StoppedAsDocumented(detach);
    }
    Say(*detach, "ok, status next");
    const auto after = desktop(L"status");
    if (!Succeeded(after)) {
        return false;
    }
    if (!after->result.value("owned", false)) {
        Say(*after, "failed: the detached Nimbo is not owned");
        return false;
    }
    Say(*after, "ok, owned, restore next");
    const auto restore = desktop(L"restore", TextAt(after->result, "displayId"));
    if (!Succeeded(restore)) {
        return StoppedAsDocumented(restore);
    }
    Say(*restore, "ok, restored");
    return true;
}

// status, then off with the status's display id and capability token, so the
// off skips the slow capabilities read. With `cancel` the host sends the
// cancel line before the off can write and expects NIMBO_POWER_CANCELLED.
bool PowerOff(const std::wstring& exe, bool cancel) {
    const auto status = Run(exe, {L"--nimbo-display-power", L"status"}, kPower);
    if (!Succeeded(status)) {
        return false;
    }
    std::vector<std::wstring> off = {L"--nimbo-display-power", L"off", L"--display-id",
                                     TextAt(status->result, "displayId")};
    if (const std::wstring token = CapabilityToken(status->result); !token.empty()) {
        off.insert(off.end(), {L"--nimbo-power-capability-v1", token});
    }
    Say(*status, cancel ? "ok, off next, cancelled at once" : "ok, off next");
    const auto answer = Run(exe, off, kPower, cancel);
    if (!answer) {
        return false;
    }
    if (cancel) {
        const bool cancelled = answer->result.value("errorCode", "") == "NIMBO_POWER_CANCELLED";
        Say(*answer,
            cancelled ? "ok, cancelled before any write" : "failed: the cancel was not honoured");
        return cancelled;
    }
    if (!Succeeded(answer)) {
        return false;
    }
    Say(*answer, "ok, state " + answer->result.value("state", std::string("?")));
    return true;
}

// status, then set with the status's display id, capability token and raw
// maximum, so the set skips the read before its write.
bool SetBrightness(const std::wstring& exe, const std::wstring& level) {
    const auto status = Run(exe, {L"--nimbo-display-brightness", L"status"}, kBrightness);
    if (!Succeeded(status)) {
        return false;
    }
    std::vector<std::wstring> set = {
        L"--nimbo-display-brightness",      L"set", L"--level", level, L"--display-id",
        TextAt(status->result, "displayId")};
    const json maximum = status->result.value("maximum", json());
    if (const std::wstring token = CapabilityToken(status->result);
        !token.empty() && maximum.is_number_unsigned()) {
        set.insert(set.end(),
                   {L"--nimbo-brightness-capability-v1", token, L"--nimbo-brightness-range-v1",
                    std::to_wstring(maximum.get<unsigned>())});
    }
    Say(*status, "ok, set next");
    const auto answer = Run(exe, set, kBrightness);
    if (!Succeeded(answer)) {
        return false;
    }
    Say(*answer, "ok, brightness " + answer->result.value("brightness", json()).dump());
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const bool withPath = mode == L"desktop" || mode == L"detach";
    const int expected = withPath || mode == L"brightness" ? 4 : 3;
    if (argc != expected ||
        (!withPath && mode != L"brightness" && mode != L"power" && mode != L"cancel")) {
        std::fputs(
            "usage: lenticor_sample_host desktop|detach <lenticor.exe> <absolute state file>\n"
            "       lenticor_sample_host power|cancel <lenticor.exe>\n"
            "       lenticor_sample_host brightness <lenticor.exe> <level 0-100>\n",
            stderr);
        return 2;
    }
    const std::wstring exe = argv[2];
    try {
        bool asDocumented = false;
        if (mode == L"desktop") {
            asDocumented = DesktopRoundTrip(exe, argv[3]);
        } else if (mode == L"detach") {
            asDocumented = Detach(exe, argv[3]);
        } else if (mode == L"brightness") {
            asDocumented = SetBrightness(exe, argv[3]);
        } else {
            asDocumented = PowerOff(exe, mode == L"cancel");
        }
        return asDocumented ? 0 : 1;
    } catch (const std::exception& error) {
        // A member of an unexpected type: the result is not what the protocol says.
        Complain(error.what());
        return 1;
    }
}
