#include "platform/sim/nvapi_entry.h"

#include "platform/nvapi_records.h"
#include "platform/sim/nvidia_driver_store.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor::sim {
namespace nv = lenticor::nvapi;
namespace {

NvidiaDriverStore* g_store = nullptr;

// Each entry point forwards to the store; after the host has gone, calls
// answer as a driver whose API was never initialised.
template <auto Method, class... Args>
nv::Status Forward(Args... args) {
    const PortCall counted;
    return g_store == nullptr ? nv::kApiNotInitialized : (g_store->*Method)(args...);
}

nv::Status Initialize() {
    return Forward<&NvidiaDriverStore::Initialize>();
}
nv::Status CreateSession(nv::SessionHandle* session) {
    return Forward<&NvidiaDriverStore::CreateSession>(session);
}
nv::Status LoadSettings(nv::SessionHandle session) {
    return Forward<&NvidiaDriverStore::LoadSettings>(session);
}
nv::Status DestroySession(nv::SessionHandle session) {
    return Forward<&NvidiaDriverStore::DestroySession>(session);
}
nv::Status SaveSettings(nv::SessionHandle session) {
    return Forward<&NvidiaDriverStore::SaveSettings>(session);
}
nv::Status FindApplicationByName(nv::SessionHandle session, char16_t* appName,
                                 nv::ProfileHandle* profile,
                                 nv::DrsApplicationRecord* application) {
    return Forward<&NvidiaDriverStore::FindApplicationByName>(
        session, static_cast<const char16_t*>(appName), profile, application);
}
nv::Status CreateProfile(nv::SessionHandle session, nv::DrsProfileRecord* profileInfo,
                         nv::ProfileHandle* profile) {
    return Forward<&NvidiaDriverStore::CreateProfile>(
        session, static_cast<const nv::DrsProfileRecord*>(profileInfo), profile);
}
nv::Status DeleteProfile(nv::SessionHandle session, nv::ProfileHandle profile) {
    return Forward<&NvidiaDriverStore::DeleteProfile>(session, profile);
}
nv::Status CreateApplication(nv::SessionHandle session, nv::ProfileHandle profile,
                             nv::DrsApplicationRecord* application) {
    return Forward<&NvidiaDriverStore::CreateApplication>(
        session, profile, static_cast<const nv::DrsApplicationRecord*>(application));
}
nv::Status GetSetting(nv::SessionHandle session, nv::ProfileHandle profile, std::uint32_t settingId,
                      nv::DrsSettingRecord* setting) {
    return Forward<&NvidiaDriverStore::GetSetting>(session, profile, settingId, setting);
}
nv::Status SetSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                      nv::DrsSettingRecord* setting) {
    return Forward<&NvidiaDriverStore::SetSetting>(
        session, profile, static_cast<const nv::DrsSettingRecord*>(setting));
}
nv::Status DeleteProfileSetting(nv::SessionHandle session, nv::ProfileHandle profile,
                                std::uint32_t settingId) {
    return Forward<&NvidiaDriverStore::DeleteProfileSetting>(session, profile, settingId);
}
nv::Status GetProfileInfo(nv::SessionHandle session, nv::ProfileHandle profile,
                          nv::DrsProfileRecord* profileInfo) {
    return Forward<&NvidiaDriverStore::GetProfileInfo>(session, profile, profileInfo);
}

template <class Fn>
void* Address(Fn function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

void SetNvapiEntryStore(NvidiaDriverStore* store) {
    g_store = store;
}

NvidiaDriverStore* NvapiEntryStore() {
    return g_store;
}

void* NvapiQueryInterface(unsigned int id) {
    const PortCall counted;
    if (g_store == nullptr || !g_store->Answers(id)) {
        return nullptr;
    }
    // The functions' places in the id table; the table's order is fixed.
    static void* const kAddresses[nv::kFunctionCount] = {
        Address<nv::InitializeFn>(&Initialize),
        Address<nv::CreateSessionFn>(&CreateSession),
        Address<nv::LoadSettingsFn>(&LoadSettings),
        Address<nv::DestroySessionFn>(&DestroySession),
        Address<nv::SaveSettingsFn>(&SaveSettings),
        Address<nv::FindApplicationByNameFn>(&FindApplicationByName),
        Address<nv::CreateProfileFn>(&CreateProfile),
        Address<nv::DeleteProfileFn>(&DeleteProfile),
        Address<nv::CreateApplicationFn>(&CreateApplication),
        Address<nv::GetSettingFn>(&GetSetting),
        Address<nv::SetSettingFn>(&SetSetting),
        Address<nv::DeleteProfileSettingFn>(&DeleteProfileSetting),
        Address<nv::GetProfileInfoFn>(&GetProfileInfo),
    };
    for (std::size_t i = 0; i < nv::kFunctionCount; ++i) {
        if (nv::kInterfaceIds[i].id == id) {
            return kAddresses[i];
        }
    }
    return nullptr;
}

}  // namespace lenticor::sim
