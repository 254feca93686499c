#include "receivables/ReceivablesWindows.h"

namespace talvesk::receivables {

workbookimport::MappingWindow::Design receivablesMappingDesign()
{
    return {.objectName = QStringLiteral("frmscldata"),
            .table = db::kReceivablesMapping,
            .labels = {QStringLiteral("Label2"), QStringLiteral("Label3"), QStringLiteral("Label8_0"),
                       QStringLiteral("Label8_3"), QStringLiteral("Label8_26")},
            .holdsConnection = false,
            .importCaption = QStringLiteral("讀入應收帳款資料(EXCEL)")};
}

} // namespace talvesk::receivables
