#include <cstdio>
#include <string>
#include <vector>

#include "reports/page_template.h"
#include "reports/report_files.h"
#include "reports/report_writers.h"
#include "reports/statistics.h"

namespace {

constexpr int kMaxMasterAddress = 127;

// Addresses above the top master and below the effective max master that no Poll For Master reached;
// any of them marks the top master abnormal.
std::vector<int> SkippedAddresses()
{
    CNetworkStatistics& s = g_NetworkStatistics;
    std::vector<int> skipped;
    for (int a = s.m_byTopMaster + 1; a < s.m_byEffectiveMaxMaster; ++a) {
        if (s.m_bPolled[a] != 1) {
            s.m_bTopMasterAbnormal = 1;
            skipped.push_back(a);
        }
    }
    return skipped;
}

enum class Warning { None, LowMaxMaster, Abnormal };

Warning ChooseWarning()
{
    const CNetworkStatistics& s = g_NetworkStatistics;
    if (s.m_byEffectiveMaxMaster < kMaxMasterAddress && s.m_bTopMasterAbnormal != 1)
        return Warning::LowMaxMaster;
    if (s.m_bTopMasterAbnormal == 1)
        return Warning::Abnormal;
    return Warning::None;
}

void WriteText(FILE* f)
{
    const CNetworkStatistics& s = g_NetworkStatistics;
    int top = s.m_byTopMaster;
    int effective = s.m_byEffectiveMaxMaster;
    WriteTextTitle(f, "Effective max master report");
    std::fprintf(f, "\"Note: This report is inferred and we do not poll the device directly because\n we are "
                    "passive on the network. We make use of the top master device on the\n network as a "
                    "reference for the max master. We make our inference by looking at\n which Mac Addresses "
                    "the Top Master polls for when looking for new devices.\"\n");
    std::fprintf(f, "%s", REPORT_RULE_LINE);
    std::fprintf(f, "\nBased on the Top Master MAC_%-3d:\n", top);
    std::fprintf(f, "\n\tEffective Max Master = MAC_%-3d\n\n", effective);
    std::vector<int> skipped = SkippedAddresses();
    switch (ChooseWarning()) {
    case Warning::LowMaxMaster:
        std::fprintf(f, "\n\t\"Warning. The effective Max master is less than 127. This means that any new\n\tdevice "
                        "added with address > %-3d will not be discovered by the current max master.\"\n\n",
                     effective);
        break;
    case Warning::Abnormal:
        std::fprintf(f, "\"Warning. The top master is behaving abnormally. It should poll for all new masters\n in "
                        "the range %d to %d but instead it doesn't poll for devices with MAC address\n",
                     top + 1, effective);
        for (int a : skipped)
            std::fprintf(f, ", %d", a);
        std::fprintf(f, " in this range.\"\n");
        break;
    case Warning::None:
        break;
    }
    std::fprintf(f, "%s", REPORT_RULE_LINE);
    WriteTextFooter(f);
}

void WriteHtml(FILE* f)
{
    const CNetworkStatistics& s = g_NetworkStatistics;
    int top = s.m_byTopMaster;
    int effective = s.m_byEffectiveMaxMaster;
    WriteHtmlHead(f, "Effective max master report");
    WriteHtmlTitle(f, "Effective max master report",
                   "Note: This report is inferred and we do not poll the device directly because we are passive "
                   "on the network. We make use of the top master device on the network as a reference for the "
                   "max master. We make our inference by looking at which Mac Addresses the Top Master polls for "
                   "when looking for new devices.");
    std::fprintf(f, "\n\tBased on the Top Master MAC_%-3d:\n", top);
    std::fprintf(f, "\n\t\tEffective Max Master = MAC_%-3d\n\n", effective);
    std::fprintf(f, "</pre></div>");
    std::vector<int> skipped = SkippedAddresses();
    switch (ChooseWarning()) {
    case Warning::LowMaxMaster:
        std::fprintf(f, "<!-- Repeatable -->");
        std::fprintf(f, "<div class='notes'><p>");
        std::fprintf(f, "Warningg. The effective Max master is less than 127. This means that any new\n\tdevice "
                        "added with address > %-3d will not be discovered by the current max master.\"\n\n",
                     effective);
        std::fprintf(f, "in this range.</p></div>");
        break;
    case Warning::Abnormal:
        std::fprintf(f, "<!-- Repeatable -->");
        std::fprintf(f, "<div class='notes'><p>");
        std::fprintf(f, "Warning. The top master is behaving abnormally. It should poll for all new masters\n in "
                        "the range %d to %d but instead it doesn't poll for devices with MAC address\n",
                     top + 1, effective);
        for (size_t i = 0; i < skipped.size(); ++i)
            std::fprintf(f, i == 0 ? " %d" : ", %d", skipped[i]);
        std::fprintf(f, " in this range.</p></div>");
        break;
    case Warning::None:
        break;
    }
    std::fprintf(f, "</div>");
    WriteHtmlFoot(f);
}

} // namespace

void WriteEffectiveMaxMasterReport()
{
    WriteReportPair("Effective_max_master_report", WriteText, WriteHtml);
}
