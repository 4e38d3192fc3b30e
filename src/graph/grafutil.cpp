#include "graph/grafutil.h"
