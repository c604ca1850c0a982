#include "gl_present_method/present_method.h"

#include "gl_present_method/undo_record.h"

#include <optional>
#include <string>

namespace lenticor::gl_present_method {
namespace {

const char* ProfileText(const ProfileState& state) {
    if (!state.found) {
        return "none";
    }
    return state.ours ? "own" : "existing";
}

void FillProfile(PresentMethodResult& result, const ProfileState& state) {
    result.profile = ProfileText(state);
    result.value = state.value;
    result.sharedProfile = state.found && state.shared;
}

// A record from an earlier apply still tells the truth about the profile as
// long as its kind matches who owns the profile now: "own" while there is no
// profile or ours, "default"/"user" while a profile exists that is not ours.
bool RecordStillFits(const std::optional<std::string>& text, const ProfileState& state) {
    if (!text) {
        return false;
    }
    const auto record = ParseUndoRecord(*text);
    if (!record) {
        return false;
    }
    if (record->kind == UndoRecordKind::Own) {
        return !state.found || state.ours;
    }
    return state.found && !state.ours;
}

UndoRecord RecordFor(const ProfileState& state) {
    if (!state.found) {
        return {UndoRecordKind::Own, 0};
    }
    if (state.value) {
        return {UndoRecordKind::User, *state.value};
    }
    return {UndoRecordKind::Default, 0};
}

// Whether the profile still differs from what the record says it was: our
// profile still there, a value still stored, or a different one stored.
bool RevertNeeded(const UndoRecord& undo, const ProfileState& state) {
    switch (undo.kind) {
        case UndoRecordKind::Own:
            return state.found && state.ours;
        case UndoRecordKind::Default:
            return state.found && state.value.has_value();
        case UndoRecordKind::User:
            return state.found && state.value != undo.value;
    }
    return false;
}

bool Revert(const UndoRecord& undo, const std::wstring& exe, IDriverProfiles& driver) {
    switch (undo.kind) {
        case UndoRecordKind::Own:
            return driver.DeleteProfile(exe);
        case UndoRecordKind::Default:
            return driver.DeleteValue(exe);
        case UndoRecordKind::User:
            return driver.SetValue(exe, undo.value);
    }
    return false;
}

// After a change the line reports the profile as the driver now has it.
void FinishChange(PresentMethodResult& result, IDriverProfiles& driver, bool undoPending) {
    result.changed = true;
    FillProfile(result, driver.ReadProfile(result.exe));
    result.undoPending = undoPending;
    result.success = true;
}

void Apply(PresentMethodResult& result, const PresentMethodRequest& request,
           const std::optional<std::string>& record, const ProfileState& state,
           IDriverProfiles& driver, IUndoStore& store) {
    if (!request.userConsent) {
        FailResult(result, "CONSENT_REQUIRED",
                   "apply changes a driver setting; pass --user-consent after the user agreed");
        return;
    }
    if (result.value == 1u) {
        result.success = true;
        return;
    }
    if (result.sharedProfile) {
        FailResult(result, "SHARED_PROFILE",
                   "the exe's driver profile also holds other applications");
        return;
    }
    if (!RecordStillFits(record, state)) {
        if (!store.Write(request.exe, FormatUndoRecord(RecordFor(state)))) {
            FailResult(result, "UNDO_STORE_FAILED", "could not write the undo record");
            return;
        }
        // Reported even if the driver refuses below: the record stays, and
        // an undo cleans it up.
        result.undoPending = true;
    }
    const bool written =
        state.found ? driver.SetValue(request.exe, 1) : driver.CreateProfileForExe(request.exe, 1);
    if (!written || !driver.Save()) {
        FailResultWithDriverStatus(result, driver, "DRIVER_WRITE_FAILED",
                                   "driver rejected the setting");
        return;
    }
    FinishChange(result, driver, true);
}

void Undo(PresentMethodResult& result, const PresentMethodRequest& request,
          const std::optional<std::string>& record, const ProfileState& state,
          IDriverProfiles& driver, IUndoStore& store) {
    UndoRecord undo;
    // A write cut short by a kill or a power loss leaves the record empty or
    // zero-filled. It is written before the driver is touched, so such a
    // record guarded no change: it counts as none, and the undo removes it
    // instead of refusing it forever.
    const bool torn = record && record->find_first_not_of('\0') == std::string::npos;
    if (record && !torn) {
        const auto parsed = ParseUndoRecord(*record);
        if (!parsed) {
            // The text as stored, so support can see what was there.
            FailResult(result, "UNDO_RECORD_INVALID", *record);
            return;
        }
        undo = *parsed;
    } else if (state.found && state.ours) {
        // Our profile without a record (the record was lost): deleting the
        // profile is the only way back.
        undo = {UndoRecordKind::Own, 0};
    } else if (!torn) {
        result.success = true;
        return;
    } else {
        if (!store.Remove(request.exe)) {
            FailResult(result, "UNDO_STORE_FAILED", "could not remove the undo record");
            return;
        }
        FinishChange(result, driver, false);
        return;
    }
    if (result.sharedProfile) {
        FailResult(result, "SHARED_PROFILE",
                   "the exe's driver profile now also holds other applications");
        return;
    }
    // Saved only after a change: without the rights to save, a refused apply
    // leaves its record over an unchanged profile, and saving nothing would be
    // refused on every later undo, so that record could never go.
    if (RevertNeeded(undo, state) && (!Revert(undo, request.exe, driver) || !driver.Save())) {
        FailResultWithDriverStatus(result, driver, "DRIVER_WRITE_FAILED",
                                   "driver rejected the undo");
        return;
    }
    if (!store.Remove(request.exe)) {
        FailResult(result, "UNDO_STORE_FAILED", "could not remove the undo record");
        return;
    }
    FinishChange(result, driver, false);
}

}  // namespace

PresentMethodResult EvaluatePresentMethod(const PresentMethodRequest& request,
                                          IDriverProfiles& driver, IUndoStore& store) {
    PresentMethodResult result;
    result.action = request.action;
    result.exe = request.exe;
    if (const std::string code = driver.Open(); !code.empty()) {
        FailResult(result, code, "NVIDIA driver profiles unavailable");
        return result;
    }
    const std::optional<std::string> record = store.Read(request.exe);
    const ProfileState state = driver.ReadProfile(request.exe);
    if (state.error) {
        FailResultWithDriverStatus(result, driver, "NVAPI_READ_FAILED",
                                   "could not read the exe's profile");
        return result;
    }
    FillProfile(result, state);
    result.undoPending = record.has_value();
    switch (request.action) {
        case PresentMethodAction::Status:
        case PresentMethodAction::Detect:
            result.success = true;
            break;
        case PresentMethodAction::Apply:
            Apply(result, request, record, state, driver, store);
            break;
        case PresentMethodAction::Undo:
            Undo(result, request, record, state, driver, store);
            break;
    }
    return result;
}

}  // namespace lenticor::gl_present_method
