#pragma once
#include "signal/value.hpp"
