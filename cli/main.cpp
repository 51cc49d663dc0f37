#include "cli/CheckCommand.h"
#include "cli/Terminal.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    // The report paints with fonts, which needs a GUI application, but no window is shown: the
    // checker must also run where there is no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareConsoleOutput();

    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavimor-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVIMOR_VERSION));

    InterruptWatcher interrupts;
    CheckCommand command(interrupts);
    return command.run(QCoreApplication::arguments());
}
