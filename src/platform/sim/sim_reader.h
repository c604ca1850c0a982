#pragma once
// Reads the machine description while keeping the JSON pointer of the current
// place, so every complaint about the file says where it is.

#include "app/text.h"
#include "platform/sim/sim_hex.h"
#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace lenticor::sim {

using Json = nlohmann::json;

class Reader {
  public:
    Reader(const Json& value, std::string path) : value_(value), path_(std::move(path)) {}

    [[noreturn]] void Fail(const std::string& problem) const {
        throw MachineError((path_.empty() ? "/" : path_) + ": " + problem);
    }

    const Json& value() const { return value_; }
    const std::string& path() const { return path_; }

    // An object whose members are all among `allowed`.
    void ExpectObject(std::initializer_list<const char*> allowed) const {
        if (!value_.is_object()) {
            Fail("expected an object");
        }
        for (const auto& item : value_.items()) {
            bool known = false;
            for (const char* name : allowed) {
                known = known || item.key() == name;
            }
            if (!known) {
                Member(item.key()).Fail("unknown member");
            }
        }
    }

    bool Has(const char* name) const { return value_.contains(name); }

    // Optional members: `slot` keeps its value when the object lacks `name`.
    void Read(const char* name, bool& slot) const {
        if (Has(name)) {
            slot = Member(name).Bool();
        }
    }
    void Read(const char* name, std::uint32_t& slot) const {
        if (Has(name)) {
            slot = Member(name).Unsigned32();
        }
    }
    template <class Code>
    void ReadCode(const char* name, std::optional<Code>& slot) const {
        if (Has(name)) {
            slot = static_cast<Code>(Member(name).Code());
        }
    }

    Reader Member(const std::string& name) const {
        if (!value_.contains(name)) {
            throw MachineError(path_ + "/" + Escape(name) + ": missing");
        }
        return Reader(value_.at(name), path_ + "/" + Escape(name));
    }

    Reader Element(std::size_t index) const {
        return Reader(value_.at(index), path_ + "/" + std::to_string(index));
    }

    std::vector<Reader> Array() const {
        if (!value_.is_array()) {
            Fail("expected an array");
        }
        std::vector<Reader> elements;
        for (std::size_t i = 0; i < value_.size(); ++i) {
            elements.push_back(Element(i));
        }
        return elements;
    }

    std::wstring Text() const {
        if (!value_.is_string()) {
            Fail("expected a string");
        }
        auto wide = Utf8ToWideStrict(value_.get_ref<const std::string&>());
        if (!wide) {
            Fail("invalid UTF-8");
        }
        return *wide;
    }

    bool Bool() const {
        if (!value_.is_boolean()) {
            Fail("expected true or false");
        }
        return value_.get<bool>();
    }

    std::int64_t Integer(std::int64_t low, std::int64_t high) const {
        if (!value_.is_number_integer()) {
            Fail("expected an integer");
        }
        const bool inRange =
            value_.is_number_unsigned()
                ? value_.get<std::uint64_t>() <= static_cast<std::uint64_t>(high) &&
                      (low <= 0 || value_.get<std::uint64_t>() >= static_cast<std::uint64_t>(low))
                : value_.get<std::int64_t>() >= low && value_.get<std::int64_t>() <= high;
        if (!inRange) {
            Fail("out of range " + std::to_string(low) + ".." + std::to_string(high));
        }
        return value_.get<std::int64_t>();
    }

    std::uint32_t Unsigned32() const {
        return static_cast<std::uint32_t>(Integer(0, std::numeric_limits<std::uint32_t>::max()));
    }

    // Desktop coordinates stay well inside 32 bits, as on Windows, so sizes
    // and edges computed from them cannot overflow.
    std::int32_t Coordinate() const {
        return static_cast<std::int32_t>(Integer(-1'000'000, 1'000'000));
    }

    // An HRESULT or Win32 error: a number (negative HRESULTs allowed) or a
    // hexadecimal string such as "0x887A0004".
    std::int32_t Code() const {
        if (value_.is_string()) {
            const auto code = ParseHexCode(value_.get_ref<const std::string&>());
            if (!code) {
                Fail("expected a code such as 87 or \"0x887A0004\"");
            }
            return static_cast<std::int32_t>(*code);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(Integer(
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::uint32_t>::max())));
    }

    // Hexadecimal bytes; blanks between them are allowed for readability.
    std::vector<std::uint8_t> HexBytes() const {
        if (!value_.is_string()) {
            Fail("expected a string of hexadecimal bytes");
        }
        std::string digits;
        for (const char c : value_.get_ref<const std::string&>()) {
            if (c == ' ' || c == '\n' || c == '\t') {
                continue;
            }
            if (HexDigit(c) < 0) {
                Fail("expected a string of hexadecimal bytes");
            }
            digits.push_back(c);
        }
        if (digits.size() % 2 != 0) {
            Fail("odd number of hexadecimal digits");
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            bytes.push_back(
                static_cast<std::uint8_t>(HexDigit(digits[i]) << 4 | HexDigit(digits[i + 1])));
        }
        return bytes;
    }

  private:
    static std::string Escape(const std::string& name) {
        std::string escaped;
        for (const char c : name) {
            if (c == '~') {
                escaped += "~0";
            } else if (c == '/') {
                escaped += "~1";
            } else {
                escaped.push_back(c);
            }
        }
        return escaped;
    }

    const Json& value_;
    std::string path_;
};

// A display mode: width, height, refreshRate, bitsPerPixel (default 32).
inline SimMode ReadSimMode(const Reader& reader) {
    reader.ExpectObject({"width", "height", "refreshRate", "bitsPerPixel"});
    SimMode mode;
    mode.width = static_cast<std::uint32_t>(reader.Member("width").Integer(1, 65535));
    mode.height = static_cast<std::uint32_t>(reader.Member("height").Integer(1, 65535));
    mode.refreshRate = static_cast<std::uint32_t>(reader.Member("refreshRate").Integer(0, 1000));
    if (reader.Has("bitsPerPixel")) {
        mode.bitsPerPixel =
            static_cast<std::uint32_t>(reader.Member("bitsPerPixel").Integer(1, 64));
    }
    return mode;
}

}  // namespace lenticor::sim
