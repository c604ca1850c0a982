#pragma once
// Scratch drives, raw file access, scripted randomness, and a second process.

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "platform/sim/sim_crypto.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_run.h"

namespace lenticor::testing {

// A private folder under the temporary folder, removed with the object.
class ScratchRoot : public sim::ScratchFolder {
  public:
    [[nodiscard]] const std::filesystem::path& Path() const { return path(); }
};

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Simulated drives in a scratch folder, with the real file behind a path.
class SimDrivesTest : public ::testing::Test {
  protected:
    std::filesystem::path Real(const std::wstring& path) const { return *files.RealPathOf(path); }
    CreateFileResult Open(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition = fileapi::kOpenExisting,
                          std::uint32_t flags = fileapi::kAttributeNormal) {
        return files.CreateFileW(path, access, share, disposition, flags);
    }

    ScratchRoot root;
    SimFiles files{root.Path()};
};

// Real SHA-256; random bytes from a script, or failures on demand.
class ScriptedCrypto final : public Crypto {
  public:
    std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> data) override {
        return hashFails ? std::nullopt : real.Sha256(data);
    }
    bool GenRandom(std::span<std::uint8_t> buffer) override {
        if (++draws, randomFails)
            return false;
        if (script.empty())
            return real.GenRandom(buffer);
        std::copy(script.front().begin(), script.front().begin() + buffer.size(), buffer.begin());
        script.pop_front();
        return true;
    }

    OpenSslCrypto real;
    std::deque<std::array<std::uint8_t, 16>> script;
    bool hashFails = false, randomFails = false;
    int draws = 0;
};

// Runs `body` in a forked copy of this process and returns its exit code
// (-1 when it did not exit normally). The child never returns into gtest.
inline int ExitCodeInChildProcess(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        int code = 98;
        try {
            code = body();
        } catch (...) {
            code = 99;
        }
        ::_exit(code);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace lenticor::testing
