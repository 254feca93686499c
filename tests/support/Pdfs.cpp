#include "support/Pdfs.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace talvesk::test {

QString pdfText(const QString &pdf, bool compatibilityForm)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                     && process.exitCode() == 0;
    EXPECT_TRUE(ran) << "pdftotext (poppler-utils, installed by scripts/deps.sh) failed: "
                     << QString::fromUtf8(process.readAllStandardError()).toStdString();
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    return compatibilityForm ? text.normalized(QString::NormalizationForm_KC) : text;
}

bool pdfHas(const QString &text, const QString &wanted)
{
    return text.contains(wanted.normalized(QString::NormalizationForm_KC));
}

} // namespace talvesk::test
