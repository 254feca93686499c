#pragma once

#include <QString>

namespace talvesk::test {

// A PDF's text as a reader copies it out (pdftotext -layout, poppler-utils), in compatibility
// form: the CJK faces map some characters (日, 入, 金) to their radical forms, and full-width
// punctuation reads narrow. Fails the test when pdftotext does not run.
QString pdfText(const QString &pdf);
// Whether such a text holds `wanted`, compared in the same form.
bool pdfHas(const QString &text, const QString &wanted);

} // namespace talvesk::test
