#include "ktutils/host/mqmath/host_os.h"

#include <atomic>

namespace ktutils::detail {
namespace {
std::atomic<HostOs*> g_installed{nullptr};
}  // namespace

HostOs& CurrentHostOs() {
    HostOs* os = g_installed.load(std::memory_order_acquire);
    return os != nullptr ? *os : NativeHostOs();
}

HostOs* InstallHostOs(HostOs* os) {
    HostOs* previous = g_installed.exchange(os, std::memory_order_acq_rel);
    return previous != nullptr ? previous : &NativeHostOs();
}

}  // namespace ktutils::detail
