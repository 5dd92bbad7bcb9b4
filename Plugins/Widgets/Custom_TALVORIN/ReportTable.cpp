#include "ReportTable.h"
