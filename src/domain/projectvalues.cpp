#include "domain/projectvalues.h"

#include <cmath>

bool usableElevation(double metres)
{
    return std::isfinite(metres) && std::fabs(metres) < maxElevation;
}
