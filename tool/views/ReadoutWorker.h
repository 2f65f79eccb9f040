// The readout worker behind button 1002: one line per person and object of
// each frame in control 1005, and once the passage has been empty for a while
// the estimated body height of the person who passed. Runs until frames.stop.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "stream/StreamRecords.h"

struct ViewFrames;
class ControlSink;

void RunReadoutWorker(ViewFrames& frames, ControlSink& sink);

// Height in whole centimetres -> number of person records seen with it.
using HeightVotes = std::map<int32_t, int32_t>;

// Counts one person height (metres), rounded half up to whole centimetres.
// Heights that are not finite numbers of centimetres are not counted.
void AddHeightVote(HeightVotes& votes, float heightMetres);

// The body height (metres) voted by a passage; 0 without votes.
float EstimateHeight(const HeightVotes& votes);

// The readout line of one record in the current language, "\r\n"-terminated;
// empty for records that are neither person nor object.
std::string ReadoutLine(const ObjRecord& record);

// The height line shown after a passage, in the current language.
std::string HeightLine(float heightMetres);
