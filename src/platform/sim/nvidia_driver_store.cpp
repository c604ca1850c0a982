#include "platform/sim/nvidia_driver_store.h"

#include <algorithm>
#include <cstring>

namespace lenticor::sim {
namespace nv = lenticor::nvapi;
namespace {

using Json = nlohmann::json;

// A record argument as the driver checks it: present, and of the version the
// caller claims to have filled in.
template <class Record>
nv::Status CheckRecord(const Record* record, std::uint32_t version) {
    if (record == nullptr) {
        return nv::kInvalidArgument;
    }
    return record->version == version ? nv::kOk : nv::kIncompatibleStructVersion;
}

[[noreturn]] void Fail(const std::string& at, const std::string& problem) {
    throw NvidiaStoreError(at + ": " + problem);
}

std::u16string FromUtf8(const std::string& text, const std::string& at) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length > text.size()) {
            Fail(at, "invalid UTF-8");
        }
        std::uint32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        }
        i += length;
        if (point > 0xFFFFu) {
            point -= 0x10000u;
            out.push_back(static_cast<char16_t>(0xD800u + (point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00u + (point & 0x3FFu)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
    }
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t point = text[i];
        if (point >= 0xD800u && point < 0xDC00u && i + 1 < text.size() && text[i + 1] >= 0xDC00u &&
            text[i + 1] < 0xE000u) {
            point = 0x10000u + ((point - 0xD800u) << 10) + (text[++i] - 0xDC00u);
        } else if (point >= 0xD800u && point < 0xE000u) {
            point = 0xFFFDu;
        }
        if (point < 0x80u) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x800u) {
            out.push_back(static_cast<char>(0xC0u | (point >> 6)));
            out.push_back(static_cast<char>(0x80u | (point & 0x3Fu)));
        } else if (point < 0x10000u) {
            out.push_back(static_cast<char>(0xE0u | (point >> 12)));
            out.push_back(static_cast<char>(0x80u | ((point >> 6) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | (point & 0x3Fu)));
        } else {
            out.push_back(static_cast<char>(0xF0u | (point >> 18)));
            out.push_back(static_cast<char>(0x80u | ((point >> 12) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | ((point >> 6) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | (point & 0x3Fu)));
        }
    }
    return out;
}

// The driver matches application and profile names without regard to
// letter case ("Game.EXE" finds the profile of "game.exe"). The simulation
// folds ASCII letters only.
std::u16string Fold(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return out;
}

std::u16string FieldText(const char16_t* field) {
    std::size_t length = 0;
    while (length < nv::kUnicodeStringMax && field[length] != u'\0') {
        ++length;
    }
    return std::u16string(field, length);
}

void SetField(nv::UnicodeString& field, const std::u16string& text) {
    const auto length = std::min(text.size(), nv::kUnicodeStringMax - 1);
    std::copy_n(text.begin(), length, field);
    field[length] = u'\0';
}

std::string Hex(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text.push_back(digits[(value >> shift) & 0xFu]);
    }
    return text;
}

std::uint32_t ReadUnsigned(const Json& value, const std::string& at) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text.size() < 3 || text.size() > 10 || text[0] != '0' ||
            (text[1] != 'x' && text[1] != 'X') ||
            text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
            Fail(at, "expected a number or hexadecimal text such as \"0x20D690F8\"");
        }
        return static_cast<std::uint32_t>(std::stoul(text.substr(2), nullptr, 16));
    }
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu) {
        Fail(at, "expected an unsigned 32-bit number");
    }
    return value.get<std::uint32_t>();
}

void ExpectMembers(const Json& value, const std::string& at,
                   std::initializer_list<const char*> allowed) {
    if (!value.is_object()) {
        Fail(at, "expected an object");
    }
    for (const auto& item : value.items()) {
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const char* name) { return item.key() == name; })) {
            Fail(at + "/" + item.key(), "unknown member");
        }
    }
}

const Json& ArrayMember(const Json& object, const char* name, const std::string& at) {
    static const Json empty = Json::array();
    if (!object.contains(name)) {
        return empty;
    }
    if (!object.at(name).is_array()) {
        Fail(at + "/" + name, "expected an array");
    }
    return object.at(name);
}

std::u16string ReadName(const Json& value, const std::string& at) {
    if (!value.is_string() || value.get_ref<const std::string&>().empty()) {
        Fail(at, "expected a non-empty string");
    }
    auto text = FromUtf8(value.get_ref<const std::string&>(), at);
    if (text.size() >= nv::kUnicodeStringMax) {
        Fail(at, "longer than 2047 UTF-16 units");
    }
    return text;
}

template <class Setting>
std::map<std::uint32_t, Setting> ReadSettings(const Json& list, const std::string& at) {
    std::map<std::uint32_t, Setting> settings;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto place = at + "/" + std::to_string(i);
        const auto& item = list[i];
        ExpectMembers(item, place, {"id", "value", "predefinedValue"});
        if (!item.contains("id")) {
            Fail(place + "/id", "missing");
        }
        Setting setting;
        if (item.contains("value")) {
            setting.value = ReadUnsigned(item.at("value"), place + "/value");
        }
        if (item.contains("predefinedValue")) {
            setting.predefinedValue =
                ReadUnsigned(item.at("predefinedValue"), place + "/predefinedValue");
        }
        if (!setting.value && !setting.predefinedValue) {
            Fail(place, "needs a value, a predefinedValue or both");
        }
        if (!settings.emplace(ReadUnsigned(item.at("id"), place + "/id"), setting).second) {
            Fail(place + "/id", "setting listed twice");
        }
    }
    return settings;
}

template <class Setting>
Json WriteSettings(const std::map<std::uint32_t, Setting>& settings) {
    auto list = Json::array();
    for (const auto& [id, setting] : settings) {
        Json item = {{"id", Hex(id)}};
        if (setting.value) {
            item["value"] = *setting.value;
        }
        if (setting.predefinedValue) {
            item["predefinedValue"] = *setting.predefinedValue;
        }
        list.push_back(item);
    }
    return list;
}

const nv::InterfaceId* InterfaceByName(const std::string& name) {
    for (const auto& entry : nv::kInterfaceIds) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

NvidiaDriverStore::NvidiaDriverStore(const nlohmann::json& document) : document_(document) {
    const std::string at = "";
    ExpectMembers(document, at, {"profiles", "globalSettings", "faults", "missingInterfaces"});
    std::set<std::u16string> names;
    std::set<std::u16string> applications;
    const auto& profiles = ArrayMember(document, "profiles", at);
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        const auto place = "/profiles/" + std::to_string(i);
        const auto& item = profiles[i];
        ExpectMembers(item, place, {"name", "predefined", "applications", "settings"});
        if (!item.contains("name")) {
            Fail(place + "/name", "missing");
        }
        Profile profile;
        profile.id = nextProfile_++;
        profile.name = ReadName(item.at("name"), place + "/name");
        if (!names.insert(Fold(profile.name)).second) {
            Fail(place + "/name", "profile name used twice");
        }
        if (item.contains("predefined")) {
            if (!item.at("predefined").is_boolean()) {
                Fail(place + "/predefined", "expected true or false");
            }
            profile.predefined = item.at("predefined").get<bool>();
        }
        const auto& apps = ArrayMember(item, "applications", place);
        for (std::size_t a = 0; a < apps.size(); ++a) {
            const auto appAt = place + "/applications/" + std::to_string(a);
            profile.applications.push_back(ReadName(apps[a], appAt));
            // The driver keeps every application in at most one profile.
            if (!applications.insert(Fold(profile.applications.back())).second) {
                Fail(appAt, "application listed in two profiles");
            }
        }
        profile.settings =
            ReadSettings<Setting>(ArrayMember(item, "settings", place), place + "/settings");
        saved_.profiles.push_back(std::move(profile));
    }
    saved_.global =
        ReadSettings<Setting>(ArrayMember(document, "globalSettings", at), "/globalSettings");
    if (document.contains("faults")) {
        const auto& faults = document.at("faults");
        if (!faults.is_object()) {
            Fail("/faults", "expected an object");
        }
        for (const auto& item : faults.items()) {
            const auto place = "/faults/" + item.key();
            if (InterfaceByName(item.key()) == nullptr) {
                Fail(place, "not an NvAPI function the driver simulates");
            }
            if (!item.value().is_number_integer() || item.value().get<std::int64_t>() >= 0 ||
                item.value().get<std::int64_t>() < INT32_MIN) {
                Fail(place, "expected a negative NvAPI status");
            }
            faults_[item.key()] = static_cast<nv::Status>(item.value().get<std::int64_t>());
        }
    }
    const auto& missing = ArrayMember(document, "missingInterfaces", at);
    for (std::size_t i = 0; i < missing.size(); ++i) {
        const auto* entry =
            missing[i].is_string() ? InterfaceByName(missing[i].get<std::string>()) : nullptr;
        if (entry == nullptr) {
            Fail("/missingInterfaces/" + std::to_string(i), "not an NvAPI function name");
        }
        missing_.insert(entry->id);
    }
}

nlohmann::json NvidiaDriverStore::Document() const {
    auto document = document_;
    auto profiles = Json::array();
    for (const auto& profile : saved_.profiles) {
        Json item = {{"name", ToUtf8(profile.name)}};
        if (profile.predefined) {
            item["predefined"] = true;
        }
        auto applications = Json::array();
        for (const auto& application : profile.applications) {
            applications.push_back(ToUtf8(application));
        }
        // Empty lists are left out as a hand-written file leaves them out, so a
        // change that is undone gives back the same document.
        if (!applications.empty()) {
            item["applications"] = applications;
        }
        if (!profile.settings.empty()) {
            item["settings"] = WriteSettings(profile.settings);
        }
        profiles.push_back(item);
    }
    if (profiles.empty()) {
        document.erase("profiles");
    } else {
        document["profiles"] = profiles;
    }
    if (saved_.global.empty()) {
        document.erase("globalSettings");
    } else {
        document["globalSettings"] = WriteSettings(saved_.global);
    }
    return document;
}

bool NvidiaDriverStore::Answers(std::uint32_t id) {
    queried_.push_back(id);
    const bool known = std::any_of(std::begin(nv::kInterfaceIds), std::end(nv::kInterfaceIds),
                                   [&](const nv::InterfaceId& entry) { return entry.id == id; });
    return known && missing_.count(id) == 0;
}

std::optional<nv::Status> NvidiaDriverStore::Switched(nv::Function function) const {
    const auto found = faults_.find(nv::Interface(function).name);
    if (found == faults_.end()) {
        return std::nullopt;
    }
    return found->second;
}

nv::Status NvidiaDriverStore::Enter(nv::Function function, nv::SessionHandle session,
                                    Session*& found) {
    if (const auto status = Switched(function)) {
        return *status;
    }
    if (!initialized_) {
        return nv::kApiNotInitialized;
    }
    const auto entry = sessions_.find(reinterpret_cast<std::uintptr_t>(session));
    if (entry == sessions_.end()) {
        return nv::kInvalidHandle;
    }
    found = &entry->second;
    return nv::kOk;
}

nv::Status NvidiaDriverStore::EnterProfile(nv::Function function, nv::SessionHandle session,
                                           nv::ProfileHandle profile, Session*& found,
                                           Profile*& target) {
    if (const auto status = Enter(function, session, found); status != nv::kOk) {
        return status;
    }
    target = FindProfile(*found, profile);
    return target == nullptr ? nv::kInvalidHandle : nv::kOk;
}

NvidiaDriverStore::Profile* NvidiaDriverStore::FindProfile(Session& session,
                                                           nv::ProfileHandle profile) {
    for (auto& candidate : session.settings.profiles) {
        if (candidate.id == reinterpret_cast<std::uintptr_t>(profile)) {
            return &candidate;
        }
    }
    return nullptr;
}

nv::Status NvidiaDriverStore::Initialize() {
    if (const auto status = Switched(nv::Function::Initialize)) {
        return *status;
    }
    initialized_ = true;
    return nv::kOk;
}

nv::Status NvidiaDriverStore::CreateSession(nv::SessionHandle* session) {
    if (const auto status = Switched(nv::Function::CreateSession)) {
        return *status;
    }
    if (!initialized_) {
        return nv::kApiNotInitialized;
    }
    if (session == nullptr) {
        return nv::kInvalidArgument;
    }
    const auto id = nextSession_++;
    sessions_[id] = Session{};
    *session = reinterpret_cast<nv::SessionHandle>(static_cast<std::uintptr_t>(id));
    return nv::kOk;
}

nv::Status NvidiaDriverStore::LoadSettings(nv::SessionHandle session) {
    Session* found = nullptr;
    const auto status = Enter(nv::Function::LoadSettings, session, found);
    if (status == nv::kOk) {
        found->settings = saved_;
    }
    return status;
}

nv::Status NvidiaDriverStore::DestroySession(nv::SessionHandle session) {
    Session* found = nullptr;
    const auto status = Enter(nv::Function::DestroySession, session, found);
    if (status == nv::kOk) {
        sessions_.erase(reinterpret_cast<std::uintptr_t>(session));
    }
    return status;
}

nv::Status NvidiaDriverStore::SaveSettings(nv::SessionHandle session) {
    Session* found = nullptr;
    const auto status = Enter(nv::Function::SaveSettings, session, found);
    if (status == nv::kOk) {
        saved_ = found->settings;
        ++saves_;
        if (onSave) {
            onSave(*this);
        }
    }
    return status;
}

nv::Status NvidiaDriverStore::FindApplicationByName(nv::SessionHandle session,
                                                    const char16_t* appName,
                                                    nv::ProfileHandle* profile,
                                                    nv::DrsApplicationRecord* application) {
    Session* found = nullptr;
    if (const auto status = Enter(nv::Function::FindApplicationByName, session, found);
        status != nv::kOk) {
        return status;
    }
    if (appName == nullptr || profile == nullptr || application == nullptr) {
        return nv::kInvalidArgument;
    }
    if (application->version != nv::kApplicationVersion4) {
        return nv::kIncompatibleStructVersion;
    }
    const auto wanted = Fold(FieldText(appName));
    for (const auto& candidate : found->settings.profiles) {
        for (const auto& name : candidate.applications) {
            if (Fold(name) == wanted) {
                std::memset(application, 0, sizeof(*application));
                application->version = nv::kApplicationVersion4;
                application->isPredefined = candidate.predefined ? 1 : 0;
                SetField(application->appName, name);
                *profile =
                    reinterpret_cast<nv::ProfileHandle>(static_cast<std::uintptr_t>(candidate.id));
                return nv::kOk;
            }
        }
    }
    return nv::kExecutableNotFound;
}

nv::Status NvidiaDriverStore::CreateProfile(nv::SessionHandle session,
                                            const nv::DrsProfileRecord* profileInfo,
                                            nv::ProfileHandle* profile) {
    Session* found = nullptr;
    if (const auto status = Enter(nv::Function::CreateProfile, session, found); status != nv::kOk) {
        return status;
    }
    if (profileInfo == nullptr || profile == nullptr) {
        return nv::kInvalidArgument;
    }
    if (profileInfo->version != nv::kProfileVersion1) {
        return nv::kIncompatibleStructVersion;
    }
    Profile created;
    created.name = FieldText(profileInfo->profileName);
    if (created.name.empty()) {
        return nv::kProfileNameEmpty;
    }
    for (const auto& existing : found->settings.profiles) {
        if (Fold(existing.name) == Fold(created.name)) {
            return nv::kProfileNameInUse;
        }
    }
    created.id = nextProfile_++;
    *profile = reinterpret_cast<nv::ProfileHandle>(static_cast<std::uintptr_t>(created.id));
    found->settings.profiles.push_back(std::move(created));
    return nv::kOk;
}

nv::Status NvidiaDriverStore::DeleteProfile(nv::SessionHandle session, nv::ProfileHandle profile) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status =
            EnterProfile(nv::Function::DeleteProfile, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    auto& profiles = found->settings.profiles;
    profiles.erase(profiles.begin() + (target - profiles.data()));
    return nv::kOk;
}

nv::Status NvidiaDriverStore::CreateApplication(nv::SessionHandle session,
                                                nv::ProfileHandle profile,
                                                const nv::DrsApplicationRecord* application) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status =
            EnterProfile(nv::Function::CreateApplication, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    if (const auto status = CheckRecord(application, nv::kApplicationVersion4); status != nv::kOk) {
        return status;
    }
    const auto name = FieldText(application->appName);
    if (name.empty()) {
        return nv::kInvalidArgument;
    }
    for (const auto& candidate : found->settings.profiles) {
        for (const auto& existing : candidate.applications) {
            if (Fold(existing) == Fold(name)) {
                return nv::kExecutableAlreadyInUse;
            }
        }
    }
    target->applications.push_back(name);
    return nv::kOk;
}

nv::Status NvidiaDriverStore::GetSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                                         std::uint32_t settingId, nv::DrsSettingRecord* setting) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status = EnterProfile(nv::Function::GetSetting, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    if (const auto status = CheckRecord(setting, nv::kSettingVersion1); status != nv::kOk) {
        return status;
    }
    // A profile without the setting reports the one it inherits from the
    // global profile, flagged with where it came from.
    std::uint32_t location = nv::kCurrentProfileLocation;
    auto own = target->settings.find(settingId);
    const Setting* source = own == target->settings.end() ? nullptr : &own->second;
    if (source == nullptr) {
        const auto inherited = found->settings.global.find(settingId);
        if (inherited == found->settings.global.end()) {
            return nv::kSettingNotFound;
        }
        source = &inherited->second;
        location = nv::kGlobalProfileLocation;
    }
    std::memset(setting, 0, sizeof(*setting));
    setting->version = nv::kSettingVersion1;
    setting->settingId = settingId;
    setting->settingType = nv::kDwordType;
    setting->settingLocation = location;
    setting->isCurrentPredefined = source->value ? 0 : 1;
    setting->isPredefinedValid = source->predefinedValue ? 1 : 0;
    setting->predefinedValue.u32Value = source->predefinedValue.value_or(0);
    setting->currentValue.u32Value = source->value ? *source->value : *source->predefinedValue;
    return nv::kOk;
}

nv::Status NvidiaDriverStore::SetSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                                         const nv::DrsSettingRecord* setting) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status = EnterProfile(nv::Function::SetSetting, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    if (const auto status = CheckRecord(setting, nv::kSettingVersion1); status != nv::kOk) {
        return status;
    }
    // Only 32-bit settings are simulated.
    if (setting->settingType != nv::kDwordType) {
        return nv::kInvalidArgument;
    }
    target->settings[setting->settingId].value = setting->currentValue.u32Value;
    return nv::kOk;
}

nv::Status NvidiaDriverStore::DeleteProfileSetting(nv::SessionHandle session,
                                                   nv::ProfileHandle profile,
                                                   std::uint32_t settingId) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status =
            EnterProfile(nv::Function::DeleteProfileSetting, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    const auto setting = target->settings.find(settingId);
    if (setting == target->settings.end()) {
        return nv::kSettingNotFound;
    }
    // Deleting a setting the driver predefines restores the driver's value.
    if (setting->second.predefinedValue) {
        setting->second.value.reset();
    } else {
        target->settings.erase(setting);
    }
    return nv::kOk;
}

nv::Status NvidiaDriverStore::GetProfileInfo(nv::SessionHandle session, nv::ProfileHandle profile,
                                             nv::DrsProfileRecord* profileInfo) {
    Session* found = nullptr;
    Profile* target = nullptr;
    if (const auto status =
            EnterProfile(nv::Function::GetProfileInfo, session, profile, found, target);
        status != nv::kOk) {
        return status;
    }
    if (const auto status = CheckRecord(profileInfo, nv::kProfileVersion1); status != nv::kOk) {
        return status;
    }
    std::memset(profileInfo, 0, sizeof(*profileInfo));
    profileInfo->version = nv::kProfileVersion1;
    SetField(profileInfo->profileName, target->name);
    profileInfo->isPredefined = target->predefined ? 1 : 0;
    profileInfo->numOfApps = static_cast<std::uint32_t>(target->applications.size());
    profileInfo->numOfSettings = static_cast<std::uint32_t>(target->settings.size());
    return nv::kOk;
}

}  // namespace lenticor::sim
