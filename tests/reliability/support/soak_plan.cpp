#include "tests/reliability/support/soak_plan.h"

#include <cstdlib>

namespace {

long FromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  const long value = std::strtol(text, nullptr, 10);
  return value > 0 ? value : fallback;
}

}  // namespace

SoakPlan CurrentSoakPlan() {
  SoakPlan plan;
  plan.soak = FromEnvironment("DORVANTEL_SOAK", 0) != 0;
  plan.cycles = static_cast<int>(FromEnvironment("DORVANTEL_SOAK_CYCLES", plan.soak ? 5000 : 500));
  plan.runSeconds = static_cast<DWORD>(FromEnvironment("DORVANTEL_SOAK_SECONDS", plan.soak ? 600 : 10));
  return plan;
}
