#pragma once
// Small shared pieces of the transmit-side tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/debug_log.h"
#include "support/mstp_frames.h"

namespace mstptx {

inline std::string Hex(const std::vector<uint8_t>& octets)
{
    std::string out;
    char pair[4];
    for (size_t i = 0; i < octets.size(); ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", octets[i]);
        out += pair;
    }
    return out;
}

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Each test works in a fresh folder of its own; the log files land there.
class ScratchDir {
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/quorix-mstp-tx-XXXXXX";
        if (mkdtemp(pattern)) {
            m_dir = pattern;
            m_previous = std::filesystem::current_path();
            std::filesystem::current_path(m_dir);
        }
        ResetLogPathsForTest();
    }
    ~ScratchDir()
    {
        if (!m_dir.empty()) {
            std::filesystem::current_path(m_previous);
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
        ResetLogPathsForTest();
    }
    bool Ok() const { return !m_dir.empty(); }
    const std::filesystem::path& Path() const { return m_dir; }
    std::string DebugLogText() const { return ReadText(m_dir / "Debuglog.txt"); }

private:
    std::filesystem::path m_dir;
    std::filesystem::path m_previous;
};

} // namespace mstptx
