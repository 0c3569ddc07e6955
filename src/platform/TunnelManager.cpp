// The tunnel interfaces carry signals: this unit gives them their meta-objects.
#include "platform/TunnelManager.h"
