#pragma once
#include <algorithm>
#include <filesystem>

#include "box_session.h"
