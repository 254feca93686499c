#include "receivables/ReceivablesWindows.h"

namespace talvesk::receivables {

workbookimport::MappingWindow::Design receivablesMappingDesign()
{
    return {QStringLiteral("frmscldata"),
            db::kReceivablesMapping,
            {QStringLiteral("Label2"), QStringLiteral("Label3"), QStringLiteral("Label8_0"), QStringLiteral("Label8_3"),
             QStringLiteral("Label8_26")},
            false,
            QStringLiteral("讀入應收帳款資料(EXCEL)")};
}

} // namespace talvesk::receivables
