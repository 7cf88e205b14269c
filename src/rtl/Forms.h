// The GUI framework in one include: application object, screen, forms and
// controls.
#pragma once
#include "rtl/Application.h"
#include "rtl/Controls.h"
