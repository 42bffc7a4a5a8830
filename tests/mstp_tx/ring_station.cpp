// One master station of the ring test, in a process of its own: connects the stack, not
// listen-only, to a device, hands it a packet for the next station every few milliseconds (every
// third one expecting a reply), and runs until its standard input closes. Prints how many data
// frames reached it. The protocol's timers are stretched by the given scale.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "mstp/mstp_stack.h"
#include "platform/serial_port_table.h"

namespace {

std::atomic<int> g_indications{0};

void CountIndication(BYTE*, unsigned short, BYTE)
{
    g_indications.fetch_add(1);
}

bool InputClosed(int waitMs)
{
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return false;
    char c;
    return read(0, &c, 1) <= 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: %s device station max-master next-station timer-scale\n", argv[0]);
        return 2;
    }
    int port = AddSerialPortPath(argv[1]);
    BYTE station = static_cast<BYTE>(atoi(argv[2]));
    BYTE next = static_cast<BYTE>(atoi(argv[4]));

    g_MstpStack.Nmax_master = static_cast<uint32_t>(atoi(argv[3]));
    const uint32_t scale = static_cast<uint32_t>(atoi(argv[5]));
    for (uint32_t* timer : {&g_MstpStack.Tframe_abort, &g_MstpStack.Tno_token, &g_MstpStack.Treply_timeout,
                            &g_MstpStack.Tusage_timeout, &g_MstpStack.Tslot})
        *timer *= scale;
    g_MstpStack.m_cSource = SOURCE_SERIAL_PORT;
    if (!g_MstpStack.Connect(&CountIndication, port, 38400, station, 0, 0)) {
        fprintf(stderr, "station %d: cannot connect to %s\n", station, argv[1]);
        return 3;
    }

    unsigned sequence = 0;
    while (!InputClosed(5)) {
        // Network-layer version 1; the control octet's bit 2 asks for a reply.
        BYTE packet[8] = {0x01, static_cast<BYTE>(sequence % 3 == 0 ? 0x04 : 0x00), station,
                          static_cast<BYTE>(sequence >> 24), static_cast<BYTE>(sequence >> 16),
                          static_cast<BYTE>(sequence >> 8), static_cast<BYTE>(sequence), 0x5A};
        if (g_MstpStack.SendPacket(next, packet, sizeof packet))
            ++sequence;
    }
    g_MstpStack.WaitForWorker();
    printf("indications=%d sent=%u restarts=%d\n", g_indications.load(), sequence,
           g_MstpStack.m_nRestartCount.load());
    return 0;
}
