#pragma once

#include "payments/TextImportWindow.h"

namespace talvesk::store {

// frmread711: the convenience stores' collection file.
payments::TextImportWindow::Design storeWindowDesign();

} // namespace talvesk::store
