#include "UserPin.h"

std::uint32_t g_PinVerified;
