// The frame distributor of the main dialog: takes each frame that the stream
// receiver stored in SharedState and copies it into the dialog's frame copies,
// then raises the view flags.
#pragma once

#include <cstdint>

#include "core/ViewFrames.h"

class SharedState;

enum class FrameSource { Live, Replay };

// Hands a frame to the views: the point block (shared, not copied), the
// first kMaxObjRecords objects and the areas; raises the views' flags and
// wakes them. A live frame is dropped while a recording plays back (false).
bool PublishFrame(ViewFrames& frames, FrameSource source, const PointBlock& points,
                  const ObjRecord* objects, int32_t count, const AreaBlock& areas);

// Runs until frames.stop is requested. At most kMaxObjRecords object records
// reach frames.m_objBuf, whatever count the frame carries.
void RunFrameDistributor(SharedState& state, ViewFrames& frames);
