#include "ReportTableModel.h"
