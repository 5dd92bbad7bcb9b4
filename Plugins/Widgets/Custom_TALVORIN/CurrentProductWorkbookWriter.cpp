#include "CurrentProductWorkbookWriter.h"
