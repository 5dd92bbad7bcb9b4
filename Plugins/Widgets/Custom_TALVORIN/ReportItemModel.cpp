#include "ReportItemModel.h"
