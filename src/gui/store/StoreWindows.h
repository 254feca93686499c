#pragma once

#include "textimport/TextImportWindow.h"

namespace talvesk::store {

// frmread711: the convenience stores' collection file.
textimport::TextImportWindow::Design storeWindowDesign();

} // namespace talvesk::store
