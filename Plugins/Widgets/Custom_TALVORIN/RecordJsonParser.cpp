#include "RecordJsonParser.h"
