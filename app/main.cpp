#include "app/quorix.h"

int main(int argc, char** argv)
{
    // AfxWinMain runs the application object, which lives in the window library: the volatile
    // reference keeps it in the program.
    CWinApp* volatile app = &theApp;
    (void)app;
    return AfxWinMain(argc, argv);
}
