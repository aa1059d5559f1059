#include "app/form/port.h"
