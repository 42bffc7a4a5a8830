#include "platform/qt/framework.h"

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
