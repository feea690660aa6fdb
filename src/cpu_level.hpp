#pragma once
// Which x86-64 levels the running CPU and operating system support, for the
// code compiled once more for the wider levels.

bool runs_x86_64_v3();
bool runs_x86_64_v4();
