#include "agent/service_unit.h"

bool service_unit_offered() { return false; }
