// hash_key.cpp - random odd factors for the name tables: one secret seed per process, mixed with a counter.
#include "support/hash_key.h"

#include <atomic>
#include <ctime>

#include <sys/random.h>

namespace lp {

namespace {

// SplitMix64's finalizer: a bijection whose every output bit depends on
// every input bit.
uint64_t mix(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t process_seed() {
    uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<long>(sizeof seed)) return seed;
    // No entropy to be had (a very early boot, a sandbox that refuses the
    // call): the time and where this process's code and stack lie.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t code = reinterpret_cast<uintptr_t>(&process_seed), stack = reinterpret_cast<uintptr_t>(&now);
    return mix(static_cast<uint64_t>(now.tv_nsec) ^ mix(static_cast<uint64_t>(now.tv_sec) ^ code) ^ (stack << 17));
}

} // namespace

uint64_t new_hash_factor() {
    static const uint64_t seed = process_seed();
    static std::atomic<uint64_t> count{0};
    return mix(seed + 0x9E3779B97F4A7C15ull * (count.fetch_add(1, std::memory_order_relaxed) + 1)) | 1;
}

} // namespace lp
