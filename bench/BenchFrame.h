// The frame the benchmarks measure with: the default scene with a person in
// the gate, made once.
#pragma once

#include <cmath>

#include "Scene.h"

inline const scene::Frame& benchFrame() {
    static const scene::Frame frame = [] {
        scene::Frame f;
        scene::Scene s(11);
        for (uint64_t n = 0; n < 400; ++n) {
            s.frame(n, f);
            if (!f.persons.empty() && std::fabs(f.persons[0].y) < 0.2f) break;
        }
        return f;
    }();
    return frame;
}
