#include <string>

#include "reports/report_files.h"
#include "reports/report_writers.h"

namespace {

// The raw frame log marks damaged frames with these notes; the text is the same for every capture.
const char* const kNoteTexts[] = {
    "\n\nNote1: This was not the start of a new frame\n\n",
    "\tThe bytes received was not the start of a new frame should be 0x55 0xFF\n",
    "\n\nNote2: The Header CRC was incorrect thus source and destination addresses may be invalid\n\n",
    "\tAn incorrect CRC indicates that the message bytes were corrupted, extra bytes\n\twere inserted or "
    "bytes were dropped. Thus, one or more bytes cant be trusted. A\n\tconsequence of this is that what "
    "we have identified as the frame type, the source\n\tor the desitination a ddress cannot be relied on "
    "since the byte sequences that\n\tcontain this information may be corrupt.\n",
    "\n\nNote3: The data CRC was incorrect and the data are invalid\n\n",
    "\tAn incorrect data CRC indicates that some of the data packet messages were corrupted,\n\textra "
    "bytes were inserted or bytes were dropped. Thus the content of the data frame\n\tcannot be "
    "trusted.\n",
    "\n\nNote4: Data Legnth was greater than the max data buffer size\n\n",
    "\tThe length of the message was greater than 501 octets, the maximum buffer size\n\tas specified in "
    "the BacNet specification.\n",
};

} // namespace

void WriteNotesReport()
{
    std::string notes;
    for (const char* text : kNoteTexts)
        notes += text;
    WriteFramedReport("Notes_report", "Note Report File", notes + REPORT_RULE_LINE, notes);
}
