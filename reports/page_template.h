#pragma once
// The frame every report shares: the XHTML page head and foot, and the text reports' footer.
// All three write to an open stream at its end and leave it open. UI thread only: the head sets
// g_szCreatedOn, which the foot repeats.
#include <cstdio>

// Version of the reports, printed in the generator element, the credits and the text footer.
inline constexpr const char* REPORT_VERSION_TEXT = "v1.1.0";

void WriteHtmlHead(FILE* f, const char* title);
void WriteHtmlFoot(FILE* f);
void WriteTextFooter(FILE* f);
