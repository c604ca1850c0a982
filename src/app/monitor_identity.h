#pragma once
// Rules that decide whether a monitor is a Nimbo and pull its seven-character
// model id (e.g. "KZV1A07") out of the two names Windows gives a monitor.
// Shared by the desktop and DDC/CI subsystems so one monitor is recognised the
// same way everywhere. None of these touches the system or fails: input that
// does not fit yields false or an empty string.

#include <string>
#include <string_view>

namespace nimbo {

// True when `modelId`, upper-cased with towupper, is exactly "KZV1A07" or
// "KZV2B09". No trimming and no prefix match: "KZV1A07X" and " KZV1A07" are not.
[[nodiscard]] bool IsNimboModelId(std::wstring_view modelId);

// "MONITOR\KZV1A07\{4d36e96e-...}\0001" -> "KZV1A07" (case kept).
// The prefix "MONITOR\" matches in any case; anything else, or nothing after
// the prefix, gives "".
[[nodiscard]] std::wstring ModelIdFromHardwareId(std::wstring_view hardwareId);

// "\\?\display#kzv1a07#5&1a2b3c4d&0&uid4352#{e6f07b5f-...}" -> L"kzv1a07".
// The UTF-8 path must begin with exactly "\\?\display#" (case-sensitive) and
// hold a second '#'; each byte of the model is widened as is.
[[nodiscard]] std::wstring ModelIdFromInterfacePath(std::string_view interfacePathUtf8);

}  // namespace nimbo
