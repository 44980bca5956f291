#pragma once

// Script files' numbers now live with every other number text.
#include "numbertext.h"
