#include "mstp/mstp_stack.h"

void CMstpStack::MasterNodeFSM() {}
