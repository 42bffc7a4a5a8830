// The program's images and strings, compiled in as Qt resources and registered under their ids.
#include <QtGlobal>

#include "app/quorix_dlg.h"

static void InitCompiledResources()
{
    // The resources live in a static library: name them so that the linker keeps them.
    Q_INIT_RESOURCE(quorix);
}

void EnsureQuorixResources()
{
    static const bool registered = [] {
        InitCompiledResources();
        RegisterImageResource(IDR_MAINFRAME, ":/quorix/quorix_icon.png");
        RegisterImageResource(IDB_BANNER0, ":/quorix/banner0.png");
        RegisterImageResource(IDB_BANNER1, ":/quorix/banner1.png");
        RegisterImageResource(IDB_BANNER2, ":/quorix/banner2.png");
        RegisterImageResource(IDB_BANNER3, ":/quorix/banner3.png");
        RegisterImageResource(IDB_ABOUT_BANNER, ":/quorix/about_banner.png");
        RegisterStringResource(IDS_ABOUTBOX, "&About Quorix...");
        return true;
    }();
    (void)registered;
}
