#pragma once

#include "receivables/MappingWindow.h"

namespace talvesk::payments {

// frmscldata1: the credited-payment workbook's six fields, kept in ImportSetting1. It holds its
// database connection from opening to closing.
receivables::MappingWindow::Design paymentsMappingDesign();

} // namespace talvesk::payments
