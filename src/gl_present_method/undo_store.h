#pragma once
// Where the present-method command keeps, per exe, how to put the driver
// profile back: a protected file under the machine-wide ProgramData folder,
// or, when that cannot be written, a per-user registry value.

#include <optional>
#include <string>

namespace lenticor {
class Environment;
class Files;
class Registry;
class SteadyClock;
}  // namespace lenticor

namespace lenticor::gl_present_method {

class IUndoStore {
  public:
    virtual ~IUndoStore() = default;
    virtual std::optional<std::string> Read(const std::wstring& key) = 0;
    virtual bool Write(const std::wstring& key, const std::string& text) = 0;
    // A missing record counts as removed.
    virtual bool Remove(const std::wstring& key) = 0;
};

class MachineUndoStore final : public IUndoStore {
  public:
    // `clock` paces the wait for another process's open of a record being
    // removed (RetryWhileFileBusy).
    MachineUndoStore(Files& files, Environment& environment, SteadyClock& clock)
        : files_(files), environment_(environment), clock_(clock) {}
    std::optional<std::string> Read(const std::wstring& key) override;
    bool Write(const std::wstring& key, const std::string& text) override;
    bool Remove(const std::wstring& key) override;

  private:
    Files& files_;
    Environment& environment_;
    SteadyClock& clock_;
};

class RegistryUndoStore final : public IUndoStore {
  public:
    explicit RegistryUndoStore(Registry& registry) : registry_(registry) {}
    std::optional<std::string> Read(const std::wstring& key) override;
    bool Write(const std::wstring& key, const std::string& text) override;
    bool Remove(const std::wstring& key) override;

  private:
    Registry& registry_;
};

// The machine file first, the registry as the fallback.
class UndoStore final : public IUndoStore {
  public:
    UndoStore(Files& files, Environment& environment, Registry& registry, SteadyClock& clock)
        : machine_(files, environment, clock), registry_(registry) {}
    std::optional<std::string> Read(const std::wstring& key) override;
    bool Write(const std::wstring& key, const std::string& text) override;
    bool Remove(const std::wstring& key) override;

  private:
    MachineUndoStore machine_;
    RegistryUndoStore registry_;
};

}  // namespace lenticor::gl_present_method
