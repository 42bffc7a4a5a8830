#include "mstp/mstp_stack.h"

int g_nMstpLogFrameNumber = 0;

MstpQueueSlot::MstpQueueSlot() : m_Data{}, m_nLength(0), m_byDestination(0) {}

void CMstpStack::SendFrame(BYTE, BYTE, const BYTE*, uint16_t) {}
bool CMstpStack::SendPacket(BYTE, const BYTE*, uint16_t) { return false; }
void CMstpStack::WriteMstpLog(bool) {}
