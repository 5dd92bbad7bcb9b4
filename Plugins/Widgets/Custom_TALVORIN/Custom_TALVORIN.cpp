#include "Custom_TALVORIN.h"
