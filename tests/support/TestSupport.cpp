#include "support/TestSupport.h"

#include <QDir>

QString corpusDir()
{
    const QDir dir(QStringLiteral(TAVIMOR_CORPUS_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}
