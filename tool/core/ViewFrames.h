// The main dialog's copies of the latest frame, written by the frame
// distributor and read by the 2D, 3D and readout workers, each group under its
// own lock. The object buffer holds at most 10 records (320 bytes).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/StopFlag.h"
#include "stream/StreamRecords.h"

struct ViewFrames {
    std::mutex m_pointMutex;
    std::string m_pointData;
    std::atomic<int32_t> m_pointNew{0};

    std::mutex m_objMutex;
    std::array<ObjRecord, kMaxObjRecords> m_objBuf{};
    int32_t m_objCount = 0;
    std::atomic<int32_t> m_objNew{0};

    std::mutex m_areaMutex;
    AreaBlock m_areas{};

    // Raised when the main dialog goes away: its workers end.
    StopFlag stop;
};
