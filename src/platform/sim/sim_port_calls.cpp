#include "platform/sim/sim_port_calls.h"

namespace lenticor::sim {
namespace {

PortCallCounter* installed = nullptr;

}  // namespace

void InstallPortCallCounter(PortCallCounter* counter) {
    installed = counter;
}

PortCall::PortCall() noexcept : counter_(installed) {
    // A port method that calls another one of its own is still one call.
    if (counter_ != nullptr && counter_->depth++ == 0) {
        ++counter_->calls;
    }
}

PortCall::~PortCall() {
    if (counter_ == nullptr || --counter_->depth != 0) {
        return;
    }
    if (counter_->stopAfter != 0 && counter_->calls == counter_->stopAfter && counter_->stop) {
        counter_->stop();
    }
}

}  // namespace lenticor::sim
