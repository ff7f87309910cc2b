// Shared main() of the Qt test executables: headless unless the caller chose a platform.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The tests read the program's own (Chinese) texts whatever language the machine runs in;
    // the English ones are tested by asking for them.
    for (const char *name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES" })
        unsetenv(name);
    setenv("LANG", "C.UTF-8", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
