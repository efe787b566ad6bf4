// What the console program does to its process before it reads its command
// line; each platform has its own.
#pragma once

void PrepareProcess();
