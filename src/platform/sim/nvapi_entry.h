#pragma once
// nvapi_QueryInterface over one process-wide NvidiaDriverStore: the entry
// points it hands out have NvAPI's C signatures and act on the store that the
// host (the simulated machine or the test nvapi64.dll) has set.

namespace lenticor::sim {

class NvidiaDriverStore;

// The store the entry points act on; null makes QueryInterface answer null.
void SetNvapiEntryStore(NvidiaDriverStore* store);
[[nodiscard]] NvidiaDriverStore* NvapiEntryStore();

// nvapi_QueryInterface: the function with the interface id, or null when the
// driver does not offer it. Every id asked for is recorded in the store.
void* NvapiQueryInterface(unsigned int id);

}  // namespace lenticor::sim
