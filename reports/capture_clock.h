#pragma once
// The capture clock: start wall clock plus performance-counter time since Start, for every frame.

// Sets the capture clock fields of g_NetworkStatistics for the frame being handled (worker thread).
void UpdateCaptureClock();

// Local time now as "[dd-mm-yyyy hh:mm:ss]" (forFileName 0) or " [dd-mm-yyyy hh-mm-ss]" (otherwise,
// for a folder name). out must have room for 23 characters.
void FormatTimestamp(char* out, int forFileName);
