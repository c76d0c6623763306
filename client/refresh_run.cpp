#include "client/refresh_run.h"

void RunRefresh() {}
