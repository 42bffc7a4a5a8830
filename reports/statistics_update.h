#pragma once
// Folds one frame into the statistics tables: roles, frame counts, who talks to whom, out-of-turn
// frames, the highest Token source and Poll For Master destination, and the token timing averaged
// in blocks. Worker thread only; constant work per frame, no allocation.
#include "platform/win_types.h"

// Called by the frame monitor for valid frames and for frames with error kind 3 or 4. The stamp is
// the frame's capture stamp; the capture clock must already be set for this frame. Does nothing
// while the device table is not allocated. Addresses without a table entry (255) write nothing.
void UpdateStatistics(BYTE source, BYTE destination, BYTE frameType, const char* stamp, int errorKind);

// Shifts the station's last out-of-turn stamps down by one and puts the current frame's in front.
void RecordOutOfTurn(BYTE mac);
