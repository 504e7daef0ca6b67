// Shared helpers of the test programs live in this folder.
#include "tests/support/live_objects.h"
