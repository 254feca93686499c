#pragma once

#include <QString>

namespace talvesk::test {

// A PDF's text as a reader copies it out (pdftotext -layout, poppler-utils), by default in
// compatibility form, where full-width punctuation reads narrow. Fails the test when pdftotext
// does not run.
QString pdfText(const QString &pdf, bool compatibilityForm = true);
// Whether such a text holds `wanted`, compared in the same form.
bool pdfHas(const QString &text, const QString &wanted);

} // namespace talvesk::test
