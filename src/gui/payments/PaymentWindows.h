#pragma once

#include "textimport/TextImportWindow.h"
#include "workbookimport/MappingWindow.h"

namespace talvesk::payments {

// frmscldata1: the credited-payment workbook's six fields, kept in ImportSetting1. It holds its
// database connection from opening to closing.
workbookimport::MappingWindow::Design paymentsMappingDesign();

// frmreadbank1: the bank's credited-payment text file.
textimport::TextImportWindow::Design bankWindowDesign();

} // namespace talvesk::payments
