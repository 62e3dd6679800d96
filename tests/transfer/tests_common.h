#pragma once
#include <algorithm>
#include <filesystem>

#include "driver_session.h"
