#include "FileReveal.h"
