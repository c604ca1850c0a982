#include "platform/sim/sim_nvidia.h"

namespace lenticor::sim {

std::uint64_t SimModuleLoader::LoadLibraryExW(const std::wstring&, std::uint32_t,
                                              std::uint32_t& error) {
    error = moduleapi::kErrorModNotFound;
    return 0;
}

ExportAddress SimModuleLoader::GetProcAddress(std::uint64_t, const char*) {
    return nullptr;
}

}  // namespace lenticor::sim
