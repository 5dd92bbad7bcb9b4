#include "ReportWorkbookWriter.h"
