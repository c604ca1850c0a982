#include "gl_present_method/nvapi_driver_profiles.h"

#include "platform/modules.h"
#include "platform/nvapi_records.h"

#include <cstring>
#include <string_view>
#include <tuple>
#include <utility>

namespace lenticor::gl_present_method {

namespace nv = lenticor::nvapi;

// The driver's entry points, each of its own type, in the order of nv::Function.
using EntryPoints =
    std::tuple<nv::InitializeFn, nv::CreateSessionFn, nv::LoadSettingsFn, nv::DestroySessionFn,
               nv::SaveSettingsFn, nv::FindApplicationByNameFn, nv::CreateProfileFn,
               nv::DeleteProfileFn, nv::CreateApplicationFn, nv::GetSettingFn, nv::SetSettingFn,
               nv::DeleteProfileSettingFn, nv::GetProfileInfoFn>;
static_assert(std::tuple_size_v<EntryPoints> == nv::kFunctionCount);

struct NvapiDriverProfiles::Functions {
    // Asks for every entry point, in the order of nv::Function, before any is
    // used, so a driver lacking one of them is refused before anything
    // changes. False when one is missing.
    bool QueryAll(nv::QueryInterfaceFn query) {
        return QueryEach(query, std::make_index_sequence<nv::kFunctionCount>{});
    }

    template <nv::Function F, class... Args>
    nv::Status Call(Args... args) const {
        return std::get<static_cast<std::size_t>(F)>(entries)(args...);
    }

  private:
    template <std::size_t... I>
    bool QueryEach(nv::QueryInterfaceFn query, std::index_sequence<I...>) {
        bool complete = true;
        ((complete &= Query<I>(query)), ...);  // left to right, past a missing one
        return complete;
    }
    template <std::size_t I>
    bool Query(nv::QueryInterfaceFn query) {
        auto& entry = std::get<I>(entries);
        entry = reinterpret_cast<std::tuple_element_t<I, EntryPoints>>(
            query(nv::Interface(static_cast<nv::Function>(I)).id));
        return entry != nullptr;
    }

    EntryPoints entries{};
};

struct NvapiDriverProfiles::Lookup {
    std::int32_t status = nv::kError;
    nv::ProfileHandle profile = nullptr;
};

namespace {

// Copies `text` into a NUL-terminated 2048-unit field as UTF-16, cutting it
// where it would not fit. Wide strings are UTF-16 on Windows but hold code
// points in the Linux build, so code points above the BMP become pairs here.
// A pair is never split by the cut.
void CopyName(std::wstring_view text, nv::UnicodeString& field) {
    std::size_t used = 0;
    for (const wchar_t c : text) {
        const auto point = static_cast<std::uint32_t>(c);
        if (point > 0xFFFFu) {
            if (used + 2 >= nv::kUnicodeStringMax) {
                break;
            }
            const std::uint32_t offset = point - 0x10000u;
            field[used++] = static_cast<char16_t>(0xD800u + (offset >> 10));
            field[used++] = static_cast<char16_t>(0xDC00u + (offset & 0x3FFu));
        } else {
            if (used + 1 >= nv::kUnicodeStringMax) {
                break;
            }
            field[used++] = static_cast<char16_t>(point);
        }
    }
    field[used] = u'\0';
}

bool BeginsWithOwnPrefix(const nv::UnicodeString& name) {
    constexpr std::u16string_view prefix = u"Korvo Vistel ";
    static_assert(prefix.size() + 1 == sizeof(kOwnProfilePrefix));
    return std::u16string_view(name, nv::kUnicodeStringMax).substr(0, prefix.size()) == prefix;
}

}  // namespace

NvapiDriverProfiles::NvapiDriverProfiles(ModuleLoader& modules) : modules_(modules) {}

NvapiDriverProfiles::~NvapiDriverProfiles() {
    if (session_ != nullptr && functions_ != nullptr) {
        // A failing destroy leaves nothing for us to do: the process ends.
        static_cast<void>(functions_->Call<nv::Function::DestroySession>(
            static_cast<nv::SessionHandle>(session_)));
    }
}

bool NvapiDriverProfiles::Fail(std::int32_t status) {
    lastStatus_ = status;
    return false;
}

std::string NvapiDriverProfiles::Open() {
    constexpr const char* kUnavailable = "NVAPI_UNAVAILABLE";
    constexpr const char* kSessionFailed = "NVAPI_SESSION_FAILED";
    Win32Error error = 0;
    // Only the system folder: a DLL planted beside the caller's executable or
    // in the current directory must not stand in for the driver's library.
    const auto module =
        modules_.LoadLibraryExW(L"nvapi64.dll", moduleapi::kLoadLibrarySearchSystem32, error);
    if (module == 0) {
        return kUnavailable;
    }
    const auto query = reinterpret_cast<nv::QueryInterfaceFn>(
        modules_.GetProcAddress(module, "nvapi_QueryInterface"));
    if (query == nullptr) {
        return kUnavailable;
    }
    auto functions = std::make_unique<Functions>();
    if (!functions->QueryAll(query)) {
        return kUnavailable;
    }
    functions_ = std::move(functions);
    // A failed initialisation means no usable NVIDIA GPU; the caller reports
    // unavailability, not a status.
    if (functions_->Call<nv::Function::Initialize>() != nv::kOk) {
        return kUnavailable;
    }
    nv::SessionHandle session = nullptr;
    const auto created = functions_->Call<nv::Function::CreateSession>(&session);
    if (created != nv::kOk) {
        Fail(created);
        return kSessionFailed;
    }
    session_ = session;
    const auto loaded = functions_->Call<nv::Function::LoadSettings>(session);
    if (loaded != nv::kOk) {
        Fail(loaded);
        return kSessionFailed;
    }
    return {};
}

NvapiDriverProfiles::Lookup NvapiDriverProfiles::FindApplication(const std::wstring& exe) {
    nv::UnicodeString name{};
    CopyName(exe, name);
    nv::DrsApplicationRecord application{};
    application.version = nv::kApplicationVersion4;
    Lookup lookup;
    lookup.status = functions_->Call<nv::Function::FindApplicationByName>(
        static_cast<nv::SessionHandle>(session_), name, &lookup.profile, &application);
    return lookup;
}

bool NvapiDriverProfiles::WriteSetting(void* profile, std::uint32_t value) {
    nv::DrsSettingRecord setting{};
    setting.version = nv::kSettingVersion1;
    setting.settingId = kPresentMethodSettingId;
    setting.settingType = nv::kDwordType;
    setting.currentValue.u32Value = value;
    const auto status = functions_->Call<nv::Function::SetSetting>(
        static_cast<nv::SessionHandle>(session_), static_cast<nv::ProfileHandle>(profile),
        &setting);
    return status == nv::kOk || Fail(status);
}

ProfileState NvapiDriverProfiles::ReadProfile(const std::wstring& exe) {
    ProfileState state;
    const auto session = static_cast<nv::SessionHandle>(session_);
    const auto lookup = FindApplication(exe);
    if (lookup.status == nv::kExecutableNotFound) {
        return state;  // the driver has no profile for the exe: not an error
    }
    if (lookup.status != nv::kOk) {
        Fail(lookup.status);
        state.error = true;
        return state;
    }
    const auto profile = lookup.profile;
    // The exe is known even when its profile cannot be described: a caller
    // refreshing after a change must not take the profile for gone.
    state.found = true;
    nv::DrsProfileRecord info{};
    info.version = nv::kProfileVersion1;
    const auto described = functions_->Call<nv::Function::GetProfileInfo>(session, profile, &info);
    if (described != nv::kOk) {
        Fail(described);
        state.error = true;
        return state;
    }
    state.ours = BeginsWithOwnPrefix(info.profileName);
    state.shared = info.numOfApps > 1;
    nv::DrsSettingRecord setting{};
    setting.version = nv::kSettingVersion1;
    const auto read = functions_->Call<nv::Function::GetSetting>(session, profile,
                                                                 kPresentMethodSettingId, &setting);
    if (read == nv::kSettingNotFound) {
        return state;
    }
    if (read != nv::kOk) {
        Fail(read);
        state.error = true;
        return state;
    }
    // Only a value the user stored in this very profile is the exe's own; an
    // inherited or driver-shipped one must not be taken for ours to undo.
    if (setting.settingLocation == nv::kCurrentProfileLocation &&
        setting.isCurrentPredefined == 0) {
        state.value = setting.currentValue.u32Value;
    }
    return state;
}

bool NvapiDriverProfiles::CreateProfileForExe(const std::wstring& exe, std::uint32_t value) {
    const auto session = static_cast<nv::SessionHandle>(session_);
    nv::DrsProfileRecord info{};
    info.version = nv::kProfileVersion1;
    CopyName(kOwnProfilePrefixWide + exe, info.profileName);
    nv::ProfileHandle profile = nullptr;
    if (const auto status = functions_->Call<nv::Function::CreateProfile>(session, &info, &profile);
        status != nv::kOk) {
        return Fail(status);
    }
    // A profile left without its application after a failure below is not
    // removed: it holds nothing of the user's and Save is never reached.
    nv::DrsApplicationRecord application{};
    application.version = nv::kApplicationVersion4;
    CopyName(exe, application.appName);
    if (const auto status =
            functions_->Call<nv::Function::CreateApplication>(session, profile, &application);
        status != nv::kOk) {
        return Fail(status);
    }
    return WriteSetting(profile, value);
}

bool NvapiDriverProfiles::SetValue(const std::wstring& exe, std::uint32_t value) {
    const auto lookup = FindApplication(exe);
    if (lookup.status != nv::kOk) {
        return Fail(lookup.status);
    }
    return WriteSetting(lookup.profile, value);
}

bool NvapiDriverProfiles::DeleteValue(const std::wstring& exe) {
    const auto lookup = FindApplication(exe);
    if (lookup.status != nv::kOk) {
        return Fail(lookup.status);
    }
    const auto status = functions_->Call<nv::Function::DeleteProfileSetting>(
        static_cast<nv::SessionHandle>(session_), lookup.profile, kPresentMethodSettingId);
    // Nothing to delete is what the caller wanted.
    return status == nv::kOk || status == nv::kSettingNotFound || Fail(status);
}

bool NvapiDriverProfiles::DeleteProfile(const std::wstring& exe) {
    const auto lookup = FindApplication(exe);
    if (lookup.status != nv::kOk) {
        return Fail(lookup.status);
    }
    const auto status = functions_->Call<nv::Function::DeleteProfile>(
        static_cast<nv::SessionHandle>(session_), lookup.profile);
    return status == nv::kOk || Fail(status);
}

bool NvapiDriverProfiles::Save() {
    const auto status =
        functions_->Call<nv::Function::SaveSettings>(static_cast<nv::SessionHandle>(session_));
    return status == nv::kOk || Fail(status);
}

std::int32_t NvapiDriverProfiles::LastStatus() const {
    return lastStatus_;
}

}  // namespace lenticor::gl_present_method
