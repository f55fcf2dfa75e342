#pragma once
#include "signal/values/value.hpp"
