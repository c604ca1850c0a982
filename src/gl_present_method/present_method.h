#pragma once
// The decisions of --gl-present-method status, apply and undo, over the
// driver's profiles and the undo store; no Windows call happens here.

#include "gl_present_method/driver_profiles.h"
#include "gl_present_method/present_method_request.h"
#include "gl_present_method/present_method_result.h"
#include "gl_present_method/undo_store.h"

namespace lenticor::gl_present_method {

// Opens the driver, reads the exe's undo record and profile and, for apply
// and undo, changes them:
// - apply (only with the user's consent) writes an undo record before the
//   first change and sets value 1, creating a "Korvo Vistel <exe>" profile
//   when the exe has none; it is idempotent, and keeps an earlier record
//   while it still describes the profile, so undo returns to the state
//   before the first apply;
// - undo puts back what the record says (deletes our profile, removes the
//   setting, or writes the old value) and then removes the record.
// Profiles that also hold other applications are never changed. Detect is
// treated as status (the caller fills in the api). Failures are values in
// the result (success false, errorCode, errorMessage), never exceptions.
[[nodiscard]] PresentMethodResult EvaluatePresentMethod(const PresentMethodRequest& request,
                                                        IDriverProfiles& driver, IUndoStore& store);

}  // namespace lenticor::gl_present_method
