// The refresh run behind "-q".
#pragma once

void RunRefresh();
