// The stream receiver thread: reads point frames from the device's stream
// server, traces them, hands the latest to SharedState and reconnects after a
// failure. Runs until state.receiverStop is requested (never, for the
// process-wide state).
#pragma once

class SharedState;

void RunStreamReceiver(SharedState& state);
