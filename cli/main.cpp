#include "cli/CheckCommand.h"
#include "cli/Terminal.h"

#include <QGuiApplication>

namespace {
QtMessageHandler gQtHandler = nullptr;

// Scripts read standard error: it carries our own messages and the progress line, not the
// toolkit's notes on the environment (XDG_RUNTIME_DIR, fonts, platform), unless TAVIMOR_DEBUG asks
// for them. What Qt calls critical or fatal is a fault of this program and always shown.
void dropToolkitNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg ||
        qEnvironmentVariableIntValue("TAVIMOR_DEBUG"))
        gQtHandler(type, context, message);
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)
#define TAVIMOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVIMOR_ASAN 1
#endif
#endif

#ifdef TAVIMOR_ASAN
// Qt 5.15's offscreen platform never frees the screen it creates with the application object.
// Full stacks let the suppression find the platform's creation among the frames.
extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}
#endif

int main(int argc, char *argv[])
{
    // The report paints with fonts, which needs a GUI application, but no window is shown: the
    // checker must also run where there is no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareConsoleOutput();
    gQtHandler = qInstallMessageHandler(dropToolkitNotes);

    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavimor-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVIMOR_VERSION));

    InterruptWatcher interrupts;
    CheckCommand command(interrupts);
    return command.run(QCoreApplication::arguments());
}
