#include "ddc/vcp_feature.h"

#include <ostream>

namespace nimbo {

std::optional<VcpReading> ReadVcpFeature(lenticor::MonitorConfiguration& api,
                                         lenticor::PhysicalMonitorHandle monitor,
                                         const VcpFeature& feature, std::ostream& err,
                                         lenticor::Win32Error& nativeError) {
    std::uint32_t type = 0;
    VcpReading reading;
    const lenticor::DdcCall call = api.GetVCPFeatureAndVCPFeatureReply(
        monitor, feature.code, type, reading.current, reading.maximum);
    if (!call.ok) {
        nativeError = call.error;
        err << feature.tag << ' ' << feature.name << " read failed, error=" << call.error
            << std::endl;
        return std::nullopt;
    }
    return reading;
}

bool WriteVcpFeature(lenticor::MonitorConfiguration& api, lenticor::PhysicalMonitorHandle monitor,
                     const VcpFeature& feature, std::uint32_t value, std::ostream& err,
                     lenticor::Win32Error& nativeError) {
    const lenticor::DdcCall call = api.SetVCPFeature(monitor, feature.code, value);
    if (!call.ok) {
        nativeError = call.error;
        err << feature.tag << ' ' << feature.name << " write failed, error=" << call.error
            << std::endl;
    }
    return call.ok;
}

}  // namespace nimbo
