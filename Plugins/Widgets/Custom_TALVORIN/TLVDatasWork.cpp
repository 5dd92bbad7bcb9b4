#include "TLVDatasWork.h"
