// The frame distributor of the main dialog: takes each frame that the stream
// receiver stored in SharedState and copies it into the dialog's frame copies,
// then raises the view flags.
#pragma once

class SharedState;
struct ViewFrames;

// Runs until frames.stop is requested. At most kMaxObjRecords object records
// reach frames.m_objBuf, whatever count the frame carries.
void RunFrameDistributor(SharedState& state, ViewFrames& frames);
