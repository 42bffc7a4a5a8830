// Writes the sample capture of samples/: a small network as a terminal program would have logged it.
//   make_sample_log OUTPUT
// Three masters (1, 3, 7) pass the token and poll for new masters, two slaves (20, 21) answer their
// requests, slave 22 is asked but never answers, station 30 talks out of turn, and a few frames are
// damaged on the line.
#include <cstdio>

#include "support/mstp_frames.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_log OUTPUT\n");
        return 1;
    }
    mstpgen::NetworkSpec network;
    network.masters = {1, 3, 7};
    network.slaves = {20, 21};
    network.missingSlave = 22;
    network.outOfTurnTalker = 30;
    network.damagePerFrame = 0.01;
    network.dataPerToken = 0.35;
    network.seed = 2024;
    mstpgen::Traffic traffic = mstpgen::Generate(network, 24000);
    if (!mstpgen::WriteFile(argv[1], mstpgen::ToHexLog(traffic.octets, 24))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu frames, %zu damaged, %zu octets\n", traffic.frames, traffic.damaged, traffic.octets.size());
    return 0;
}
