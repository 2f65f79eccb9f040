// The 2D worker behind button 1000: renders every frame it gets in time as the
// top view of the passage into control 1003. Runs until frames.stop.
#pragma once

struct ViewFrames;
class ControlSink;

void Run2DWorker(ViewFrames& frames, ControlSink& sink);
