#pragma once
// One scripted machine behind the engine's operations bundle. Tests change the
// machine (monitors, journal text, a failing call, a change before a capture),
// never the bundle, so the engine meets the same Windows in every test.
//
// The bundle logs every call by name and records any effect that breaks a
// safety rule at the moment it happens, so a test can never miss one.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "desktop/desktop_builders.h"
#include "desktop/desktop_engine.h"

namespace nimbo::test {

inline constexpr const char* kInjectedFailure = "injected operation failure";

class FakeDesktop {
  public:
    explicit FakeDesktop(std::vector<Monitor> machine) : monitors(std::move(machine)) {}

    std::vector<Monitor> monitors;
    std::optional<std::string> journal;  // the journal file's text
    std::vector<std::string> archived;
    // The nth call of `op` fails: a false / empty answer, or a thrown error.
    struct Fault {
        std::string op;
        int nth = 0;
        bool throws = false;
    };
    std::optional<Fault> fault;
    // Runs on the machine before the nth capture of a run (0-based); may throw.
    std::map<int, std::function<void(FakeDesktop&)>> beforeCapture;

    std::vector<std::string> calls;  // of the last Run, by bundle member name
    std::vector<std::string> violations;
    int saves = 0;
    int deletes = 0;

    Monitor& Find(const std::string& model, std::uint32_t targetId);
    std::string Revision() const;  // "absent" or 64 hex digits of the journal text
    DesktopTopology Capture() const { return BuildTopology(monitors); }
    DesktopResult Run(const DesktopRequest& request);

  private:
    template <typename R, typename F>
    R Call(const char* op, R falsy, F&& real);
    DesktopOperations Operations();
    const Monitor* OwnerOf(const std::string& key) const;
    std::vector<DesktopTarget> Enumerate(const DesktopTopology& topology) const;

    std::string loadedRevision_;
    int captures_ = 0;
};

}  // namespace nimbo::test
