#include "Scene.h"

#include <algorithm>
#include <cmath>

#include "core/ByteOrder.h"

namespace scene {

namespace {

constexpr const float (&kSliceEdges)[6] = kStandardGateSliceEdges;

// Persons: a flat crown, a rounded head and the shoulders below it.
constexpr float kCrownRadius = 0.04f;
constexpr float kHeadRadius = 0.10f;
constexpr float kHeadDrop = 0.10f;
constexpr float kShoulderHalfX = 0.24f;
constexpr float kShoulderHalfY = 0.14f;
constexpr float kShoulderRatio = 0.82f;
constexpr float kShoulderDrop = 0.05f;
constexpr float kBoxHalfX = 0.25f;  // reported box around a person
constexpr float kBoxHalfY = 0.15f;
constexpr float kReportHalfY = 1.1f;  // persons are reported inside this |y|

constexpr float kBagSizeX = 0.30f;
constexpr float kBagSizeY = 0.22f;
constexpr float kBagHeight = 0.30f;
constexpr float kBagFill = 0.8f;  // a bag is no box: its volume is less

uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Deterministic random numbers of one passage or one frame.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() { return state_ = splitmix(state_); }
    float uniform(float lo, float hi) {
        const float u = static_cast<float>(next() >> 40) / static_cast<float>(1ull << 24);
        return lo + (hi - lo) * u;
    }
    bool chance(float p) { return uniform(0.0f, 1.0f) < p; }

private:
    uint64_t state_;
};

struct Passage {
    int persons;
    float direction;  // +1 walks towards +y
    float speed;      // metres per frame
    float height[2];
    float xOffset[2];
    bool bag;
    float bagX, bagY;
};

Passage passageOf(uint64_t seed, uint64_t p) {
    Rng rng(splitmix(seed) ^ (p * 0xD1B54A32D192ED03ull));
    Passage s{};
    s.persons = rng.chance(0.3f) ? 2 : 1;
    s.direction = rng.chance(0.85f) ? 1.0f : -1.0f;
    s.speed = rng.uniform(0.09f, 0.13f);
    for (int i = 0; i < 2; ++i) {
        s.height[i] = rng.uniform(1.55f, 1.90f);
        s.xOffset[i] = rng.uniform(-0.12f, 0.12f);
    }
    s.bag = rng.chance(0.25f);
    s.bagX = rng.chance(0.5f) ? 0.15f : -0.15f;
    s.bagY = rng.uniform(-0.3f, 0.3f);
    return s;
}

float personHeightAt(const PersonState& p, float x, float y) {
    float z = 0.0f;
    const float dx = x - p.x;
    const float dy = y - p.y;
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d <= kCrownRadius) {
        z = p.height;
    } else if (d <= kHeadRadius) {
        const float t = (d - kCrownRadius) / (kHeadRadius - kCrownRadius);
        z = p.height - kHeadDrop * t * t;
    }
    const float ex = dx / kShoulderHalfX;
    const float ey = dy / kShoulderHalfY;
    const float e2 = ex * ex + ey * ey;
    if (e2 <= 1.0f) z = std::max(z, p.height * kShoulderRatio - kShoulderDrop * e2);
    return z;
}

int32_t detectionAreaOf(float x, float y) {
    if (x < -kGateWidth / 2 || x > kGateWidth / 2) return 0;
    for (int k = 0; k < 5; ++k) {
        if (y >= kSliceEdges[k] && y <= kSliceEdges[k + 1]) return k + 1;
    }
    return 0;
}

bool inWall(float x, float y) {
    const float ax = std::fabs(x);
    return ax >= kWallInnerX && ax <= kWallOuterX && std::fabs(y) <= kWallHalfLength;
}

}  // namespace

float floorHeight(uint64_t seed, uint64_t frame, int row, int col) {
    const uint64_t h = splitmix(
        seed ^ splitmix(frame * 0x100000001B3ull + static_cast<uint64_t>(row * kGridCols + col)));
    // -3 mm .. +6 mm: a floor seen through sensor noise.
    return -0.003f + 0.009f * static_cast<float>(h >> 40) / static_cast<float>(1ull << 24);
}

void Scene::frame(uint64_t n, Frame& out) const {
    const uint64_t p = n / kCycleFrames;
    const float t = static_cast<float>(n % kCycleFrames);
    const Passage s = passageOf(seed_, p);

    out.areas = standardGateAreas();
    out.persons.clear();
    out.objects.clear();
    out.hasBag = false;

    float leadY = 0.0f;
    for (int i = 0; i < s.persons; ++i) {
        // Followers walk 0.75 m behind the one in front.
        const float start = -s.direction * (1.45f + 0.75f * static_cast<float>(i));
        const float y = start + s.direction * s.speed * t;
        if (i == 0) leadY = y;
        if (std::fabs(y) > kGridYMax + kShoulderHalfY) continue;
        out.persons.push_back(
            PersonState{static_cast<int32_t>(p * 2 + i + 1), s.xOffset[i], y, s.height[i]});
    }
    // The bag is left where the first person passes it and stays until the
    // next passage.
    if (s.bag && (leadY - s.bagY) * s.direction > 0.0f) {
        out.hasBag = true;
        out.bag = BagState{s.bagX - kBagSizeX / 2, s.bagY - kBagSizeY / 2, s.bagX + kBagSizeX / 2,
                           s.bagY + kBagSizeY / 2, kBagHeight};
    }

    Rng frameRng(splitmix(seed_ ^ 0xA5A5A5A5ull) ^ splitmix(n));
    for (const PersonState& person : out.persons) {
        if (std::fabs(person.y) > kReportHalfY) continue;
        ObjRecord r;
        r.index = person.index;
        r.kind = 0;
        r.area = detectionAreaOf(person.x, person.y);
        r.value = person.height + frameRng.uniform(-0.015f, 0.015f);
        r.x1 = person.x - kBoxHalfX;
        r.y1 = person.y - kBoxHalfY;
        r.x2 = person.x + kBoxHalfX;
        r.y2 = person.y + kBoxHalfY;
        out.objects.push_back(r);
    }
    // Now and then the algorithm reports a blob it could not classify.
    if (!out.objects.empty() && frameRng.chance(1.0f / 6.0f)) {
        ObjRecord blob;
        blob.kind = -2;
        blob.x1 = -0.36f;
        blob.y1 = out.objects.front().y1;
        blob.x2 = -0.30f;
        blob.y2 = blob.y1 + 0.08f;
        out.objects.insert(out.objects.begin(), blob);
    }
    if (out.hasBag) {
        const BagState& b = out.bag;
        ObjRecord r;
        r.index = static_cast<int32_t>(p * 2 + 1);  // the number of the person who left it
        r.kind = -1;
        r.area = detectionAreaOf((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2);
        r.value = kBagSizeX * kBagSizeY * kBagHeight * kBagFill;
        r.x1 = b.x0;
        r.y1 = b.y0;
        r.x2 = b.x1;
        r.y2 = b.y1;
        out.objects.push_back(r);
    }
    if (out.objects.size() > static_cast<size_t>(kMaxObjRecords))
        out.objects.resize(kMaxObjRecords);

    out.points.resize(static_cast<size_t>(kPointCount) * 12);
    const float sx = (kGridXMax - kGridXMin) / static_cast<float>(kGridRows - 1);
    const float sy = (kGridYMax - kGridYMin) / static_cast<float>(kGridCols - 1);
    uint8_t* dst = out.points.data();
    for (int r = 0; r < kGridRows; ++r) {
        const float x = kGridXMin + sx * static_cast<float>(r);
        for (int c = 0; c < kGridCols; ++c, dst += 12) {
            const float y = kGridYMin + sy * static_cast<float>(c);
            float z = inWall(x, y) ? kWallHeight : floorHeight(seed_, n, r, c);
            if (out.hasBag && x >= out.bag.x0 && x <= out.bag.x1 && y >= out.bag.y0 &&
                y <= out.bag.y1)
                z = std::max(z, out.bag.height);
            for (const PersonState& person : out.persons)
                z = std::max(z, personHeightAt(person, x, y));
            writeF32le(dst, x);
            writeF32le(dst + 4, y);
            writeF32le(dst + 8, z);
        }
    }
}

}  // namespace scene
