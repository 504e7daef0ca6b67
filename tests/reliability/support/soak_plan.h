#pragma once
// How long the reliability suite runs. The default fits the test command; the soak mode
// (DORVANTEL_SOAK=1, as `./run soak` sets it) runs far longer. DORVANTEL_SOAK_CYCLES and
// DORVANTEL_SOAK_SECONDS override either figure.

#include <windows.h>

struct SoakPlan {
  bool soak = false;
  int cycles = 0;          // create ... release cycles
  DWORD runSeconds = 0;    // length of the long run with frames flowing
};

SoakPlan CurrentSoakPlan();
