// Linked into every test program: the environment each test needs, set before anything reads it,
// and the sanitizer suppressions for system libraries (read by the sanitizers at start-up).
#include <cstdlib>
#include <string>

#ifndef QUORIX_TEST_ENV
#define QUORIX_TEST_ENV ""
#endif

namespace {

struct TestEnvironment {
    TestEnvironment()
    {
        // "NAME=value|NAME=value"; a variable set from outside is left as it is.
        std::string all = QUORIX_TEST_ENV;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('|', start);
            if (end == std::string::npos)
                end = all.size();
            std::string entry = all.substr(start, end - start);
            size_t eq = entry.find('=');
            if (eq != std::string::npos && eq > 0)
                setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 0);
            start = end + 1;
        }
    }
};

TestEnvironment g_testEnvironment;

} // namespace

// System libraries keep caches for the life of the process (fonts above all).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libQt6Gui.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n";
}

// Qt's own threads (font loading, the thread pool) synchronise inside libraries built without the
// race checker, so it cannot see their ordering; none of these reports is in the program's code.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libfontconfig.so\n"
           "race:libglib-2.0.so\n"
           "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libfontconfig.so\n";
}
