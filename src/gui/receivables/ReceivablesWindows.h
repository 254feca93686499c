#pragma once

#include "workbookimport/MappingWindow.h"

namespace talvesk::receivables {

// The receivables column mapping window (frmscldata).
workbookimport::MappingWindow::Design receivablesMappingDesign();

} // namespace talvesk::receivables
