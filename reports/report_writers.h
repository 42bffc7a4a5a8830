#pragma once
// The report writers run at Stop, on the UI thread, after the MS/TP worker has been joined and while
// the device table still exists. Each writes its files into g_strReportPath; a file that cannot be
// created is named on standard output and the writer returns. Without a report folder (empty path)
// nothing is written; the writers that read the device table write nothing while it is not allocated.
//
// Stop calls, in this order: WriteMacAddressReport, WriteOperationalReports, WriteNotesReport,
// WriteWhoTalksToWhoReport, WriteEffectiveMaxMasterReport, then FinishIndexPage. WriteIndexPage
// belongs to Start.

// index.html with its head, title and the links to the fixed reports ("w").
void WriteIndexPage();
// Appends the Notes link, closes the contents and the container, and the page foot ("a+").
void FinishIndexPage();

// Op_Report_MAC_<n>.txt/.html for every present station, each linked from index.html.
void WriteOperationalReports();
// Notes_report.txt/.html: what the notes of damaged frames in the raw frame log mean.
void WriteNotesReport();
// MAC_add_report.txt/.html: roles, missing slaves, open addresses and the suggested ones.
void WriteMacAddressReport();
// Who_talks_to_who_report.txt/.html: data frames each master exchanged with each peer.
void WriteWhoTalksToWhoReport();
// Effective_max_master_report.txt/.html; sets g_NetworkStatistics.m_bTopMasterAbnormal.
void WriteEffectiveMaxMasterReport();
