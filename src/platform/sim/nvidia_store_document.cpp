#include "platform/sim/nvidia_driver_store.h"

#include "platform/sim/sim_hex.h"

#include <algorithm>
#include <cstring>

// Reading and writing the store's document; the NvAPI functions over it are
// in nvidia_driver_store.cpp.

namespace lenticor::sim {
namespace nv = lenticor::nvapi;
namespace {

using Json = nlohmann::json;

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
        const auto number = ParseHexCode(value.get_ref<const std::string&>());
        if (!number) {
            Fail(at, "expected a number or hexadecimal text such as \"0x20D690F8\"");
        }
        return *number;
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

}  // namespace lenticor::sim
