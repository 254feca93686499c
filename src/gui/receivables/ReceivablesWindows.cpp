#include "receivables/ReceivablesWindows.h"

namespace talvesk::receivables {

workbookimport::MappingWindow::Design receivablesMappingDesign()
{
    return {QStringLiteral("frmscldata"),
            db::kReceivablesMapping,
            {{QStringLiteral("客戶名稱"), QStringLiteral("Label2"), 1},
             {QStringLiteral("客戶編號"), QStringLiteral("Label3"), 1},
             {QStringLiteral("應收款項備註"), QStringLiteral("Label8_0"), 1},
             {QStringLiteral("虛擬帳號"), QStringLiteral("Label8_3"), 1},
             {QStringLiteral("應收金額"), QStringLiteral("Label8_26"), 4}},
            false};
}

} // namespace talvesk::receivables
