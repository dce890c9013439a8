#pragma once

#include <QString>

// What a user who may not open the meter (its node refuses read-write access: no udev rule) is told,
// by the program and by the tool alike: why, and how to grant access. Its lines end with "\n".
QString MeterAccessHint();
