#include "SaveFilePrompt.h"
