#pragma once
// The stop switch of the simulated machine. Every operation of a port the
// machine stands for opens with a PortCall: the outermost one in progress
// counts the call and, once the call has returned, ends the run when it is
// the call the machine file's "stopAfterCall" names. The console, the clocks
// and standard input are not counted: they change nothing and are called in
// wait loops, so a count would depend on the host's speed.

#include <cstdint>
#include <functional>

namespace lenticor::sim {

enum class SimStopKind { Kill, PowerLoss };

struct SimStopAfterCall {
    std::uint64_t call = 0;  // >= 1
    SimStopKind as = SimStopKind::Kill;
};

// One run's count. The stop does not return: it writes what the machine
// keeps and ends the process.
struct PortCallCounter {
    std::uint64_t calls = 0;
    std::uint64_t stopAfter = 0;  // 0: never
    std::function<void()> stop;
    int depth = 0;
};

// The counter the run's calls go to; null (the default, as in unit tests):
// nothing is counted.
void InstallPortCallCounter(PortCallCounter* counter);

class PortCall {
  public:
    PortCall() noexcept;
    ~PortCall();
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;

  private:
    PortCallCounter* counter_;
};

}  // namespace lenticor::sim
