#include "platform/sim/nvidia_driver_store.h"

#include <algorithm>
#include <cstring>

namespace lenticor::sim {
namespace nv = lenticor::nvapi;
namespace {

// A record argument as the driver checks it: present, and of the version the
// caller claims to have filled in.
template <class Record>
nv::Status CheckRecord(const Record* record, std::uint32_t version) {
    if (record == nullptr) {
        return nv::kInvalidArgument;
    }
    return record->version == version ? nv::kOk : nv::kIncompatibleStructVersion;
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

}  // namespace

std::u16string NvidiaDriverStore::Fold(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return out;
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

template <class Call>
nv::Status NvidiaDriverStore::InSession(nv::Function function, nv::SessionHandle session,
                                        Call call) {
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
    return call(entry->second);
}

template <class Call>
nv::Status NvidiaDriverStore::InProfile(nv::Function function, nv::SessionHandle session,
                                        nv::ProfileHandle profile, Call call) {
    return InSession(function, session, [&](Session& found) {
        Profile* target = FindProfile(found, profile);
        return target == nullptr ? nv::kInvalidHandle : call(found, *target);
    });
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
    return InSession(nv::Function::LoadSettings, session, [&](Session& found) {
        found.settings = saved_;
        return nv::kOk;
    });
}

nv::Status NvidiaDriverStore::DestroySession(nv::SessionHandle session) {
    return InSession(nv::Function::DestroySession, session, [&](Session&) {
        sessions_.erase(reinterpret_cast<std::uintptr_t>(session));
        return nv::kOk;
    });
}

nv::Status NvidiaDriverStore::SaveSettings(nv::SessionHandle session) {
    return InSession(nv::Function::SaveSettings, session, [&](Session& found) {
        saved_ = found.settings;
        ++saves_;
        if (onSave) {
            onSave(*this);
        }
        return nv::kOk;
    });
}

nv::Status NvidiaDriverStore::FindApplicationByName(nv::SessionHandle session,
                                                    const char16_t* appName,
                                                    nv::ProfileHandle* profile,
                                                    nv::DrsApplicationRecord* application) {
    return InSession(nv::Function::FindApplicationByName, session, [&](Session& found) {
        if (appName == nullptr || profile == nullptr || application == nullptr) {
            return nv::kInvalidArgument;
        }
        if (application->version != nv::kApplicationVersion4) {
            return nv::kIncompatibleStructVersion;
        }
        const auto wanted = Fold(FieldText(appName));
        for (const auto& candidate : found.settings.profiles) {
            for (const auto& name : candidate.applications) {
                if (Fold(name) == wanted) {
                    std::memset(application, 0, sizeof(*application));
                    application->version = nv::kApplicationVersion4;
                    application->isPredefined = candidate.predefined ? 1 : 0;
                    SetField(application->appName, name);
                    *profile = reinterpret_cast<nv::ProfileHandle>(
                        static_cast<std::uintptr_t>(candidate.id));
                    return nv::kOk;
                }
            }
        }
        return nv::kExecutableNotFound;
    });
}

nv::Status NvidiaDriverStore::CreateProfile(nv::SessionHandle session,
                                            const nv::DrsProfileRecord* profileInfo,
                                            nv::ProfileHandle* profile) {
    return InSession(nv::Function::CreateProfile, session, [&](Session& found) {
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
        for (const auto& existing : found.settings.profiles) {
            if (Fold(existing.name) == Fold(created.name)) {
                return nv::kProfileNameInUse;
            }
        }
        created.id = nextProfile_++;
        *profile = reinterpret_cast<nv::ProfileHandle>(static_cast<std::uintptr_t>(created.id));
        found.settings.profiles.push_back(std::move(created));
        return nv::kOk;
    });
}

nv::Status NvidiaDriverStore::DeleteProfile(nv::SessionHandle session, nv::ProfileHandle profile) {
    return InProfile(nv::Function::DeleteProfile, session, profile,
                     [&](Session& found, Profile& target) {
                         auto& profiles = found.settings.profiles;
                         profiles.erase(profiles.begin() + (&target - profiles.data()));
                         return nv::kOk;
                     });
}

nv::Status NvidiaDriverStore::CreateApplication(nv::SessionHandle session,
                                                nv::ProfileHandle profile,
                                                const nv::DrsApplicationRecord* application) {
    return InProfile(nv::Function::CreateApplication, session, profile,
                     [&](Session& found, Profile& target) {
                         if (const auto status = CheckRecord(application, nv::kApplicationVersion4);
                             status != nv::kOk) {
                             return status;
                         }
                         const auto name = FieldText(application->appName);
                         if (name.empty()) {
                             return nv::kInvalidArgument;
                         }
                         for (const auto& candidate : found.settings.profiles) {
                             for (const auto& existing : candidate.applications) {
                                 if (Fold(existing) == Fold(name)) {
                                     return nv::kExecutableAlreadyInUse;
                                 }
                             }
                         }
                         target.applications.push_back(name);
                         return nv::kOk;
                     });
}

nv::Status NvidiaDriverStore::GetSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                                         std::uint32_t settingId, nv::DrsSettingRecord* setting) {
    return InProfile(
        nv::Function::GetSetting, session, profile, [&](Session& found, Profile& target) {
            if (const auto status = CheckRecord(setting, nv::kSettingVersion1); status != nv::kOk) {
                return status;
            }
            // A profile without the setting reports the one it inherits from the
            // global profile, flagged with where it came from.
            std::uint32_t location = nv::kCurrentProfileLocation;
            auto own = target.settings.find(settingId);
            const Setting* source = own == target.settings.end() ? nullptr : &own->second;
            if (source == nullptr) {
                const auto inherited = found.settings.global.find(settingId);
                if (inherited == found.settings.global.end()) {
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
            setting->currentValue.u32Value =
                source->value ? *source->value : *source->predefinedValue;
            return nv::kOk;
        });
}

nv::Status NvidiaDriverStore::SetSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                                         const nv::DrsSettingRecord* setting) {
    return InProfile(nv::Function::SetSetting, session, profile, [&](Session&, Profile& target) {
        if (const auto status = CheckRecord(setting, nv::kSettingVersion1); status != nv::kOk) {
            return status;
        }
        // Only 32-bit settings are simulated.
        if (setting->settingType != nv::kDwordType) {
            return nv::kInvalidArgument;
        }
        target.settings[setting->settingId].value = setting->currentValue.u32Value;
        return nv::kOk;
    });
}

nv::Status NvidiaDriverStore::DeleteProfileSetting(nv::SessionHandle session,
                                                   nv::ProfileHandle profile,
                                                   std::uint32_t settingId) {
    return InProfile(nv::Function::DeleteProfileSetting, session, profile,
                     [&](Session&, Profile& target) {
                         const auto setting = target.settings.find(settingId);
                         if (setting == target.settings.end()) {
                             return nv::kSettingNotFound;
                         }
                         // Deleting a setting the driver predefines restores the driver's value.
                         if (setting->second.predefinedValue) {
                             setting->second.value.reset();
                         } else {
                             target.settings.erase(setting);
                         }
                         return nv::kOk;
                     });
}

nv::Status NvidiaDriverStore::GetProfileInfo(nv::SessionHandle session, nv::ProfileHandle profile,
                                             nv::DrsProfileRecord* profileInfo) {
    return InProfile(
        nv::Function::GetProfileInfo, session, profile, [&](Session&, Profile& target) {
            if (const auto status = CheckRecord(profileInfo, nv::kProfileVersion1);
                status != nv::kOk) {
                return status;
            }
            std::memset(profileInfo, 0, sizeof(*profileInfo));
            profileInfo->version = nv::kProfileVersion1;
            SetField(profileInfo->profileName, target.name);
            profileInfo->isPredefined = target.predefined ? 1 : 0;
            profileInfo->numOfApps = static_cast<std::uint32_t>(target.applications.size());
            profileInfo->numOfSettings = static_cast<std::uint32_t>(target.settings.size());
            return nv::kOk;
        });
}

}  // namespace lenticor::sim
