// What the calibrator procedures use of the core, the serial transport and the UAIL layer.
#pragma once

#include "core/quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"
