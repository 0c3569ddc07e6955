#pragma once

#include "tunnel/TimedGet.h"

// The probe's verdict on one reply from "/api/v1/ip" through the tunnel: status 200 and a UTF-8
// body holding "exit":" exactly.
bool probePassed(const HttpResult& reply);
