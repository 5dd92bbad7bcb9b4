#include "XlsxWorkbook.h"
