#include "decoder/scan.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QV_SIDES_SSE2 1
#endif
// AVX2 is compiled into every x86 build and used only where the processor (and the system, which
// must save the wide registers) reports it; nothing outside MapAvx2 assumes it.
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <immintrin.h>
#define QV_SIDES_AVX2 1
#endif

// The scan loads eight bytes of the map as one word whose bit j is sample 8 * (first byte) + j.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the side map is read as little-endian words");

namespace {

void MapPlain(const uint8_t* samples, int32_t count, uint8_t baseLine, uint8_t* bits)
{
    for (int32_t i = 0; i < count; i += 8) {
        const int32_t n = std::min(8, count - i);
        uint32_t byte = 0;
        for (int32_t j = 0; j < n; ++j)
            byte |= static_cast<uint32_t>(samples[i + j] >= baseLine) << j;
        bits[i / 8] = static_cast<uint8_t>(byte);
    }
}

#ifdef QV_SIDES_SSE2
void MapSse2(const uint8_t* samples, int32_t count, uint8_t baseLine, uint8_t* bits)
{
    const __m128i base = _mm_set1_epi8(static_cast<char>(baseLine));
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        // Saturating base - v is zero exactly where v >= base: the unsigned compare SSE2 lacks.
        const __m128i high = _mm_cmpeq_epi8(_mm_subs_epu8(base, v), _mm_setzero_si128());
        const uint16_t mask = static_cast<uint16_t>(_mm_movemask_epi8(high));
        std::memcpy(bits + i / 8, &mask, sizeof mask);
    }
    MapPlain(samples + i, count - i, baseLine, bits + i / 8);
}
#endif

#ifdef QV_SIDES_AVX2
__attribute__((target("avx2"))) void MapAvx2(const uint8_t* samples, int32_t count, uint8_t baseLine,
                                             uint8_t* bits)
{
    const __m256i base = _mm256_set1_epi8(static_cast<char>(baseLine));
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i));
        const __m256i high = _mm256_cmpeq_epi8(_mm256_subs_epu8(base, v), _mm256_setzero_si256());
        const uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(high));
        std::memcpy(bits + i / 8, &mask, sizeof mask);
    }
    MapPlain(samples + i, count - i, baseLine, bits + i / 8);
}

bool HasAvx2()
{
    // The runtime reads the feature flags in a constructor, which may not have run yet.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

std::vector<SideKernel> FindKernels()
{
    std::vector<SideKernel> kernels = {{"plain", MapPlain}};
#ifdef QV_SIDES_SSE2
    kernels.push_back({"sse2", MapSse2});
#endif
#ifdef QV_SIDES_AVX2
    if (HasAvx2())
        kernels.push_back({"avx2", MapAvx2});
#endif
    return kernels;
}

std::atomic<SideFunction> chosen{SideKernels().back().map};

}  // namespace

const std::vector<SideKernel>& SideKernels()
{
    static const std::vector<SideKernel> kernels = FindKernels();
    return kernels;
}

void ChooseSideKernel(const SideKernel& kernel)
{
    chosen.store(kernel.map, std::memory_order_relaxed);
}

void MapSides(const uint8_t* samples, int32_t count, uint8_t baseLine, SideMap& map)
{
    assert(count >= 0 && count <= kScanBatch);
    chosen.load(std::memory_order_relaxed)(samples, count, baseLine, map.bits);
    map.count = count;
}

void ScanHalfPeriods(const SideMap& map, int32_t pos, HalfPeriodState& state, HalfPeriodList& list)
{
    assert(state.runCount >= 0 && state.runCount <= kHalfPeriodTimeout);
    assert(pos >= 0 && pos <= map.count);
    // The measurement stays in locals: p is the first sample not yet counted, run the samples counted
    // of the half-wave in progress, side the side it lies on.
    HalfPeriod* out = list.items;
    int32_t p = pos;
    int32_t run = state.runCount;
    int8_t side = state.polarity > 0 ? 1 : -1;
    // Counts the samples from p up to next, all on the side being measured; the one that brings the
    // count past kHalfPeriodTimeout gives a time-out and the count starts again from 0.
    auto countUpTo = [&](int32_t next) {
        while (next - p > kHalfPeriodTimeout - run) {
            p += kHalfPeriodTimeout + 1 - run;
            run = 0;
            *out++ = {-1, static_cast<int16_t>(p), side};
        }
        run += next - p;
        p = next;
    };
    const uint64_t measured = state.polarity > 0 ? 1 : 0;
    // Side of the sample before the word: the side being measured before the first.
    uint64_t before = measured;
    for (int32_t base = pos / 64 * 64; base < map.count; base += 64) {
        uint64_t sides;
        std::memcpy(&sides, map.bits + base / 8, sizeof sides);
        uint64_t previous = sides << 1 | before;
        before = sides >> 63;
        uint64_t from = ~uint64_t{0};
        if (base < pos) {
            const int32_t first = pos - base;
            previous = (previous & ~(uint64_t{1} << first)) | measured << first;
            from <<= first;
        }
        // Bit i set: sample base + i lies on the other side from the one before it.
        uint64_t changes = (sides ^ previous) & from;
        if (map.count - base < 64)
            changes &= (uint64_t{1} << (map.count - base)) - 1;
        while (changes != 0) {
            const int32_t change = base + __builtin_ctzll(changes);
            changes &= changes - 1;
            countUpTo(change);
            // The sample on the other side is the first of the next half-wave.
            side = static_cast<int8_t>(-side);
            *out++ = {static_cast<int16_t>(run), static_cast<int16_t>(change + 1), side};
            run = 1;
            p = change + 1;
        }
    }
    countUpTo(map.count);
    list.count = static_cast<int32_t>(out - list.items);
    state.runCount = run;
    state.polarity = side;
}
