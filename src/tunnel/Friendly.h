#pragma once

#include <QString>
#include <exception>

// The message a failed connect step shows: the app's own text, or the system's description;
// anything about permission or denial asks the user to allow the VPN configuration.
QString friendly(std::exception_ptr error);
