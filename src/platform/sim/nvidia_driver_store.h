#pragma once
// The simulated NVIDIA driver's settings store: per-application profiles, the
// global profile they inherit from, and the settings sessions of NvAPI's DRS
// functions. Portable and free of the rest of the program, so that both the
// simulated machine and the test build of nvapi64.dll run the same store.
// The document shape is described in docs/simulated-nvidia.md.

#include "platform/nvapi_records.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor::sim {

// A document the store cannot use; what() names the place and the problem.
class NvidiaStoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class NvidiaDriverStore {
  public:
    // Throws NvidiaStoreError.
    explicit NvidiaDriverStore(const nlohmann::json& document);

    // The saved store in the shape it was read from, switches included.
    [[nodiscard]] nlohmann::json Document() const;

    // nvapi_QueryInterface's bookkeeping: records the id and tells whether
    // the driver answers it (known and not switched off).
    [[nodiscard]] bool Answers(std::uint32_t id);
    [[nodiscard]] const std::vector<std::uint32_t>& queried() const { return queried_; }
    [[nodiscard]] std::size_t liveSessions() const { return sessions_.size(); }
    [[nodiscard]] std::size_t saves() const { return saves_; }
    // Called after every successful SaveSettings.
    std::function<void(const NvidiaDriverStore&)> onSave;

    // The NvAPI functions, with the driver's statuses.
    nvapi::Status Initialize();
    nvapi::Status CreateSession(nvapi::SessionHandle* session);
    nvapi::Status LoadSettings(nvapi::SessionHandle session);
    nvapi::Status DestroySession(nvapi::SessionHandle session);
    nvapi::Status SaveSettings(nvapi::SessionHandle session);
    nvapi::Status FindApplicationByName(nvapi::SessionHandle session, const char16_t* appName,
                                        nvapi::ProfileHandle* profile,
                                        nvapi::DrsApplicationRecord* application);
    nvapi::Status CreateProfile(nvapi::SessionHandle session,
                                const nvapi::DrsProfileRecord* profileInfo,
                                nvapi::ProfileHandle* profile);
    nvapi::Status DeleteProfile(nvapi::SessionHandle session, nvapi::ProfileHandle profile);
    nvapi::Status CreateApplication(nvapi::SessionHandle session, nvapi::ProfileHandle profile,
                                    const nvapi::DrsApplicationRecord* application);
    nvapi::Status GetSetting(nvapi::SessionHandle session, nvapi::ProfileHandle profile,
                             std::uint32_t settingId, nvapi::DrsSettingRecord* setting);
    nvapi::Status SetSetting(nvapi::SessionHandle session, nvapi::ProfileHandle profile,
                             const nvapi::DrsSettingRecord* setting);
    nvapi::Status DeleteProfileSetting(nvapi::SessionHandle session, nvapi::ProfileHandle profile,
                                       std::uint32_t settingId);
    nvapi::Status GetProfileInfo(nvapi::SessionHandle session, nvapi::ProfileHandle profile,
                                 nvapi::DrsProfileRecord* profileInfo);

  private:
    // A user value overrides the driver's predefined one; deleting the
    // setting brings the predefined value back.
    struct Setting {
        std::optional<std::uint32_t> value;
        std::optional<std::uint32_t> predefinedValue;
    };
    struct Profile {
        std::uint64_t id = 0;  // the profile handle's value
        std::u16string name;
        bool predefined = false;
        std::vector<std::u16string> applications;
        std::map<std::uint32_t, Setting> settings;
    };
    struct Settings {
        std::vector<Profile> profiles;
        std::map<std::uint32_t, Setting> global;
    };
    struct Session {
        Settings settings;
    };

    // The driver matches application and profile names without regard to
    // letter case ("Game.EXE" finds the profile of "game.exe"). The
    // simulation folds ASCII letters only.
    [[nodiscard]] static std::u16string Fold(std::u16string_view text);
    [[nodiscard]] std::optional<nvapi::Status> Switched(nvapi::Function function) const;
    // The checks every DRS call starts with, then `call(session)` for its
    // status; the status of the first check that fails otherwise.
    template <class Call>
    [[nodiscard]] nvapi::Status InSession(nvapi::Function function, nvapi::SessionHandle session,
                                          Call call);
    // InSession, then `call(session, profile)` with the session's profile
    // behind the handle.
    template <class Call>
    [[nodiscard]] nvapi::Status InProfile(nvapi::Function function, nvapi::SessionHandle session,
                                          nvapi::ProfileHandle profile, Call call);
    [[nodiscard]] Profile* FindProfile(Session& session, nvapi::ProfileHandle profile);

    nlohmann::json document_;  // switches and members the store does not own
    Settings saved_;
    std::map<std::string, nvapi::Status> faults_;  // by function name
    std::set<std::uint32_t> missing_;              // interface ids switched off
    bool initialized_ = false;
    std::map<std::uint64_t, Session> sessions_;
    std::uint64_t nextSession_ = 1;
    std::uint64_t nextProfile_ = 1;
    std::vector<std::uint32_t> queried_;
    std::size_t saves_ = 0;
};

}  // namespace lenticor::sim
