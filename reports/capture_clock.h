#pragma once
// The capture clock: start wall clock plus performance-counter time since Start, for every frame.

// Sets the capture clock fields of g_NetworkStatistics for the frame being handled (worker thread).
void UpdateCaptureClock();

// Local time now as "[dd-mm-yyyy hh:mm:ss]" (forFileName 0) or " [dd-mm-yyyy hh-mm-ss]" (otherwise,
// for a folder name). out must have room for 23 characters.
void FormatTimestamp(char* out, int forFileName);

// Start's reading of the two clocks: the local wall clock now (kept to the second, milliseconds 0),
// then the performance counter and its frequency, into the start fields of g_NetworkStatistics.
// Call after CNetworkStatistics::Reset and before the stack is connected.
void StartCaptureClock();
