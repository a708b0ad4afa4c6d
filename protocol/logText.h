// "n°" as the log lines write it: the degree sign is the single byte 0xB0.
#pragma once

#define DORVANE_NO "n\xB0"
