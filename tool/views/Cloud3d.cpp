#include "views/Cloud3d.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
// The AVX2 code is compiled for that extension alone and runs only where the
// processor reports it.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KEST_CLOUD_AVX2 1
#include <immintrin.h>
#else
#define KEST_CLOUD_AVX2 0
#endif

#include "core/ByteOrder.h"
#include "stream/StreamFrame.h"

namespace {

uint8_t channel(float v) {
    // Truncated, like the device's colour scale.
    return static_cast<uint8_t>(255.0f * std::clamp(v, 0.0f, 1.0f));
}

}  // namespace

void HeightColour(float t, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (!(t >= 0.0f)) t = 0.0f;  // also a NaN height
    if (t > 1.0f) t = 1.0f;
    const float v = 4.0f * t;
    r = channel(v - 1.5f);
    g = channel(v - 0.5f);
    b = channel(2.5f - v);
}

CloudClipBox CloudClipBoxFor(const AreaBlock& areas) {
    // A long area is widened along x, a square or wide one along y.
    const float a0 = areas[0], a1 = areas[1], a2 = areas[2], a3 = areas[3];
    const bool longAlongX = a2 - a0 > a3 - a1;
    CloudClipBox box;
    box.xLo = longAlongX ? a0 - kCloudMargin : a0;
    box.xHi = longAlongX ? a2 + kCloudMargin : a2;
    box.yLo = longAlongX ? a1 : a1 - kCloudMargin;
    box.yHi = longAlongX ? a3 : a3 + kCloudMargin;
    return box;
}

namespace {

// zMin and zMax taken one height further, in the order of the points. A NaN
// height changes neither.
inline void widenHeights(float z, float& zMin, float& zMax) {
    zMin = std::min(zMin, z);
    zMax = std::max(zMax, z);
}

void heightsPlain(const uint8_t* pointBytes, size_t from, size_t count, float& zMin, float& zMax) {
    for (size_t i = from; i < count; ++i)
        widenHeights(readF32le(pointBytes + i * kPointSize + 8), zMin, zMax);
}

void pointsPlain(const uint8_t* pointBytes, size_t from, size_t count, float zMin, float range,
                 const CloudClipBox& box, ColoredPoint* out) {
    for (size_t i = from; i < count; ++i) {
        const uint8_t* p = pointBytes + i * kPointSize;
        ColoredPoint& c = out[i];
        c.x = readF32le(p);
        c.y = readF32le(p + 4);
        c.z = readF32le(p + 8);
        HeightColour((c.z - zMin) / range, c.r, c.g, c.b);
        if (!box.contains(c.x, c.y)) c.x = c.y = c.z = 0.0f;
    }
}

std::atomic<int> g_cloudLimit{static_cast<int>(CloudInstructions::Avx2)};

#if KEST_CLOUD_AVX2
#define KEST_AVX2 __attribute__((target("avx2")))

// Eight points a step, with the IEEE operations of the plain code in the same
// order, so every value comes out the same. The points are read as raw floats:
// x86 is little-endian, as the device's data.

// The height range of the whole blocks of eight points; returns how many
// points it took. Eight points are 24 floats, three registers, and each lane
// of a register meets the same coordinate in every block: the lanes holding
// z keep their own minimum and maximum, the others are ignored.
// _mm256_min_ps(z, m) is (z < m) ? z : m, as std::min(m, z): a NaN height is
// passed over in both. Merging the lanes can only change the sign of a zero
// bound, which no colour tells apart.
// The running bounds of one lane pattern: each lane of lo and hi meets the
// same coordinate of every block.
struct LaneBounds {
    __m256 lo, hi;
};

KEST_AVX2 inline void widen(LaneBounds& b, const float* f) {
    const __m256 v = _mm256_loadu_ps(f);
    b.lo = _mm256_min_ps(v, b.lo);
    b.hi = _mm256_max_ps(v, b.hi);
}

// The z lanes (first at `first`, every third) merged into zMin and zMax.
KEST_AVX2 inline void mergeZ(const LaneBounds& b, int first, float& zMin, float& zMax) {
    alignas(32) float lo[8], hi[8];
    _mm256_store_ps(lo, b.lo);
    _mm256_store_ps(hi, b.hi);
    for (int lane = first; lane < 8; lane += 3) {
        zMin = std::min(zMin, lo[lane]);
        zMax = std::max(zMax, hi[lane]);
    }
}

KEST_AVX2 size_t heightsAvx2(const uint8_t* pointBytes, size_t count, float& zMin, float& zMax) {
    const size_t blocks = count / 8;
    const LaneBounds start{_mm256_set1_ps(zMin), _mm256_set1_ps(zMax)};
    // Two sets, for alternate blocks, so that the bounds of one block need
    // not wait for those of the block before.
    LaneBounds a0 = start, a1 = start, a2 = start, b0 = start, b1 = start, b2 = start;
    const float* f = reinterpret_cast<const float*>(pointBytes);
    size_t n = 0;
    for (; n + 2 <= blocks; n += 2, f += 48) {
        widen(a0, f);
        widen(a1, f + 8);
        widen(a2, f + 16);
        widen(b0, f + 24);
        widen(b1, f + 32);
        widen(b2, f + 40);
    }
    if (n < blocks) {
        widen(a0, f);
        widen(a1, f + 8);
        widen(a2, f + 16);
    }
    // z is float 2 of a block's first register, 0 of its second, 1 of its third.
    mergeZ(a0, 2, zMin, zMax);
    mergeZ(a1, 0, zMin, zMax);
    mergeZ(a2, 1, zMin, zMax);
    mergeZ(b0, 2, zMin, zMax);
    mergeZ(b1, 0, zMin, zMax);
    mergeZ(b2, 1, zMin, zMax);
    return blocks * 8;
}

// 255 * a truncated, for a channel of HeightColour: a is v - 1.5, v - 0.5 or
// 2.5 - v with v in [0, 4], so the result is small. Where a is in [0, 1] this
// is the channel; below 0 it is 0 or less, above 1 it is 255 or more (the
// product is rounded to nearest and 255 is exact), so clamping it to 0..255
// afterwards gives what clamping a first does.
KEST_AVX2 inline __m256i scaled(__m256 a) {
    return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_set1_ps(255.0f), a));
}

// Points k and k + 4 of a block (p at point k) in the two halves of a
// register, 16 bytes each: x, y, z and the next point's x.
KEST_AVX2 inline __m256 pointPair(const float* p) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p)), _mm_loadu_ps(p + 12), 1);
}

// The two records of pointPair, to points k and k + 4 (dst at point k).
KEST_AVX2 inline void storePair(float* dst, __m256 records) {
    _mm_storeu_ps(dst, _mm256_castps256_ps128(records));
    _mm_storeu_ps(dst + 16, _mm256_extractf128_ps(records, 1));
}

// Coloured, clipped points for the whole blocks of eight that can be read 16
// bytes a point (the last one reaches 4 bytes into the point after it); returns
// how many points it wrote.
KEST_AVX2 size_t pointsAvx2(const uint8_t* pointBytes, size_t count, float zMin, float range,
                            const CloudClipBox& box, ColoredPoint* out) {
    const __m256 zMinV = _mm256_set1_ps(zMin), rangeV = _mm256_set1_ps(range);
    const __m256 xLo = _mm256_set1_ps(box.xLo), xHi = _mm256_set1_ps(box.xHi);
    const __m256 yLo = _mm256_set1_ps(box.yLo), yHi = _mm256_set1_ps(box.yHi);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 four = _mm256_set1_ps(4.0f);
    const __m256 c15 = _mm256_set1_ps(1.5f), c05 = _mm256_set1_ps(0.5f);
    const __m256 c25 = _mm256_set1_ps(2.5f);
    // Bytes r0..r3 g0..g3 b0..b3 (each half) to r, g, b and a spare per point.
    const __m256i order = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0,
                                           4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);

    size_t i = 0;
    for (; i + 8 < count; i += 8) {
        const float* p = reinterpret_cast<const float*>(pointBytes + i * kPointSize);
        // Rows: point k in the low half, point k + 4 in the high half, as x,
        // y, z and a stray float.
        const __m256 r0 = pointPair(p), r1 = pointPair(p + 3);
        const __m256 r2 = pointPair(p + 6), r3 = pointPair(p + 9);
        const __m256 t0 = _mm256_unpacklo_ps(r0, r1);  // x0 x1 y0 y1
        const __m256 t1 = _mm256_unpackhi_ps(r0, r1);  // z0 z1 .. ..
        const __m256 t2 = _mm256_unpacklo_ps(r2, r3);  // x2 x3 y2 y3
        const __m256 t3 = _mm256_unpackhi_ps(r2, r3);  // z2 z3 .. ..
        const __m256 x = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 y = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
        const __m256 z = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));

        // HeightColour((z - zMin) / range): NaN and below 0 give 0
        // (_mm256_max_ps(t, 0) is (t > 0) ? t : 0), above 1 gives 1.
        __m256 t = _mm256_div_ps(_mm256_sub_ps(z, zMinV), rangeV);
        t = _mm256_min_ps(_mm256_max_ps(t, zero), one);
        const __m256 v = _mm256_mul_ps(four, t);
        const __m256i red = scaled(_mm256_sub_ps(v, c15));
        const __m256i green = scaled(_mm256_sub_ps(v, c05));
        const __m256i blue = scaled(_mm256_sub_ps(c25, v));
        // The saturating packs clamp to 0..255; then r, g, b (and a padding
        // byte) of each point, as the record's fourth float.
        const __m256i bytes =
            _mm256_packus_epi16(_mm256_packus_epi32(red, green), _mm256_packus_epi32(blue, blue));
        const __m256 rgb = _mm256_castsi256_ps(_mm256_shuffle_epi8(bytes, order));
        // Outside the clip box (or NaN): x, y and z become +0.
        const __m256 inside = _mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(x, xLo, _CMP_GE_OQ), _mm256_cmp_ps(x, xHi, _CMP_LE_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(y, yLo, _CMP_GE_OQ), _mm256_cmp_ps(y, yHi, _CMP_LE_OQ)));
        const __m256 xc = _mm256_and_ps(x, inside);
        const __m256 yc = _mm256_and_ps(y, inside);
        const __m256 zc = _mm256_and_ps(z, inside);

        // Back to one 16-byte record a point.
        const __m256 u0 = _mm256_unpacklo_ps(xc, yc);   // x0 y0 x1 y1
        const __m256 u1 = _mm256_unpackhi_ps(xc, yc);   // x2 y2 x3 y3
        const __m256 u2 = _mm256_unpacklo_ps(zc, rgb);  // z0 c0 z1 c1
        const __m256 u3 = _mm256_unpackhi_ps(zc, rgb);  // z2 c2 z3 c3
        float* dst = reinterpret_cast<float*>(out + i);
        storePair(dst, _mm256_shuffle_ps(u0, u2, _MM_SHUFFLE(1, 0, 1, 0)));
        storePair(dst + 4, _mm256_shuffle_ps(u0, u2, _MM_SHUFFLE(3, 2, 3, 2)));
        storePair(dst + 8, _mm256_shuffle_ps(u1, u3, _MM_SHUFFLE(1, 0, 1, 0)));
        storePair(dst + 12, _mm256_shuffle_ps(u1, u3, _MM_SHUFFLE(3, 2, 3, 2)));
    }
    return i;
}

bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#else
bool cpuHasAvx2() {
    return false;
}
#endif

static_assert(sizeof(ColoredPoint) == 16 && offsetof(ColoredPoint, r) == 12,
              "the vector code writes whole 16-byte points");

}  // namespace

CloudInstructions CloudInstructionsAvailable() {
    return cpuHasAvx2() ? CloudInstructions::Avx2 : CloudInstructions::Plain;
}

void LimitCloudInstructions(CloudInstructions most) {
    g_cloudLimit.store(static_cast<int>(most), std::memory_order_relaxed);
}

CloudInstructions CloudInstructionsInUse() {
    return std::min(CloudInstructionsAvailable(),
                    static_cast<CloudInstructions>(g_cloudLimit.load(std::memory_order_relaxed)));
}

void ProcessCloud(const uint8_t* pointBytes, size_t length, const AreaBlock& areas,
                  std::vector<ColoredPoint>& out) {
    const size_t count = std::min<size_t>(length / kPointSize, kCloudPoints);
    out.resize(count);
    [[maybe_unused]] const bool avx2 = CloudInstructionsInUse() == CloudInstructions::Avx2;

    float zMin = std::numeric_limits<float>::max();
    float zMax = std::numeric_limits<float>::lowest();
    size_t done = 0;
#if KEST_CLOUD_AVX2
    if (avx2) done = heightsAvx2(pointBytes, count, zMin, zMax);
#endif
    heightsPlain(pointBytes, done, count, zMin, zMax);
    float range = zMax - zMin;
    if (!(range > kFlatRange)) range = 1.0f;

    const CloudClipBox box = CloudClipBoxFor(areas);
    done = 0;
#if KEST_CLOUD_AVX2
    if (avx2) done = pointsAvx2(pointBytes, count, zMin, range, box, out.data());
#endif
    pointsPlain(pointBytes, done, count, zMin, range, box, out.data());
}

void Camera3d::OnLButtonDown(int x, int y) {
    m_dragging = true;
    m_lastX = x;
    m_lastY = y;
}

void Camera3d::OnMouseMove(int x, int y) {
    if (!m_dragging) return;
    m_camYaw += static_cast<float>(x - m_lastX);
    m_camPitch += static_cast<float>(y - m_lastY);
    m_lastX = x;
    m_lastY = y;
}

void Camera3d::OnMouseWheel(int delta) {
    m_camDist += delta <= 0 ? 1.0f : -1.0f;
    m_camDist = std::clamp(m_camDist, kMinDist, kMaxDist);
}

void Camera3d::OnLButtonUp() {
    m_dragging = false;
}
