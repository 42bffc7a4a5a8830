#pragma once
// The frame-monitor callback: every ended frame, valid or damaged, is appended to the raw frame log
// (Raw_mstp_frames.txt and Raw_mstp_frames.html in g_strReportPath) and, when its header is intact,
// folded into the statistics. Runs on the MS/TP worker thread, one frame at a time.
#include "platform/win_types.h"

inline constexpr const char* RAW_LOG_TEXT_FILE = "Raw_mstp_frames.txt";
inline constexpr const char* RAW_LOG_HTML_FILE = "Raw_mstp_frames.html";
inline constexpr const char* RAW_LOG_TITLE = "Raw MSTP Frame log file";

// Names of the frame types 0 to 7, each 24 characters.
extern const char* const g_pszFrameTypeNames[8];

// The 24-character name of any type octet: 8 to 127 are reserved, 128 to 255 not BACnet.
const char* FrameTypeName(BYTE type);

// The header's type octet: the octet after the preamble's 0xFF, however often the 0x55 was repeated.
// A frame too short to hold one gives 0xFF, which is counted as no type at all.
BYTE FrameTypeOctet(const BYTE* pFrame, unsigned int nLength);

void OnMonitoredFrame(BYTE* pFrame, unsigned int nLength, BYTE source, BYTE destination, int valid, int errorKind);

// Frames of the current capture whose line is missing or incomplete in Raw_mstp_frames.txt: its
// file did not open, or a write or the close failed. Read once the worker has been joined.
int RawLogFramesLost();

// The data-indication callback the stack requires; a passive monitor has nothing to do with it.
void OnDataIndication(BYTE* pData, unsigned short nLength, BYTE source);

// The pieces of the raw frame log written at Start and at Stop (UI thread, worker not running).
// Start: the page head, title and the opened contents block of Raw_mstp_frames.html.
// Stop: the closing rule and text footer of Raw_mstp_frames.txt, then the end of the contents,
// the container and the page foot of Raw_mstp_frames.html. Each returns false when a file it
// had to write could not be opened, or a write or the close failed. A file whose piece failed is
// noted as not written (report_files.h); so is, at Stop, a log that missed frame lines.
bool WriteRawLogStart();
bool WriteRawLogStop();
